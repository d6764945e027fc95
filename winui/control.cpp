#include "winui/control.h"

namespace winui {

namespace {
// The window property that leads from a control window to its object.
constexpr char kObjectProperty[] = "winui.Control";
}  // namespace

Control::~Control() {
    Unsubclass();
}

BOOL Control::Subclass(HWND hwnd) {
    if (!::IsWindow(hwnd)) {
        ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!::SetPropA(hwnd, kObjectProperty, this)) {
        return FALSE;
    }
    m_hWnd = hwnd;
    ::SetLastError(0);
    const LONG_PTR previous =
        ::SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProc));
    if (previous == 0 && ::GetLastError() != 0) {
        const DWORD error = ::GetLastError();
        ::RemovePropA(hwnd, kObjectProperty);
        ::SetLastError(error);
        return FALSE;
    }
    m_originalProc = reinterpret_cast<WNDPROC>(previous);
    m_bSubclassed = true;
    return TRUE;
}

void Control::Unsubclass() {
    if (!m_bSubclassed) {
        return;
    }
    if (::IsWindow(m_hWnd)) {
        ::SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_originalProc));
        ::RemovePropA(m_hWnd, kObjectProperty);
    }
    m_bSubclassed = false;
}

Control* Control::FromHandle(HWND hwnd) {
    return static_cast<Control*>(::GetPropA(hwnd, kObjectProperty));
}

void Control::DrawItem(DRAWITEMSTRUCT*) {}

std::string Control::GetText() const {
    const LRESULT length = ::SendMessageA(m_hWnd, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const LRESULT copied =
        ::SendMessageA(m_hWnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}

void Control::SetText(const std::string& text) const {
    ::SendMessageA(m_hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Control::SetFont(HFONT font, BOOL redraw) const {
    ::SendMessageA(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), MAKELPARAM(redraw, 0));
}

LRESULT Control::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return Default(message, wParam, lParam);
}

LRESULT Control::Default(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::CallWindowProcA(m_originalProc, m_hWnd, message, wParam, lParam);
}

LRESULT CALLBACK Control::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Control* self = FromHandle(hwnd);
    if (self == nullptr) {
        return ::DefWindowProcA(hwnd, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        // The window's last message: hand it to the original procedure, then let go.
        const WNDPROC original = self->m_originalProc;
        self->Unsubclass();
        return ::CallWindowProcA(original, hwnd, message, wParam, lParam);
    }
    return self->WindowProc(message, wParam, lParam);
}

}  // namespace winui
