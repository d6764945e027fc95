#include "winui/dialog.h"

#include "winui/win_app.h"

namespace winui {

Dialog::Dialog(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}

INT_PTR Dialog::DoModal() {
    return ::DialogBoxParamA(ResourceInstance(), MAKEINTRESOURCEA(m_templateId), m_parent,
                             &DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        ::SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->m_hWnd = hwnd;
    } else {
        self = reinterpret_cast<Dialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    }
    // Messages that arrive before WM_INITDIALOG get the default processing.
    if (self == nullptr) {
        return FALSE;
    }
    const INT_PTR result = self->DialogMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
    }
    return result;
}

INT_PTR Dialog::DialogMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_COMMAND:
            return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        case WM_DRAWITEM:
            return OnDrawItem(reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
        default:
            return FALSE;
    }
}

BOOL Dialog::OnInitDialog() {
    DoDataExchange();
    return TRUE;
}

BOOL Dialog::OnCommand(WORD id, WORD notifyCode, HWND) {
    // Enter, Escape and the system menu's Close arrive as IDOK / IDCANCEL.
    if (notifyCode != BN_CLICKED) {
        return FALSE;
    }
    switch (id) {
        case IDOK:
            OnOK();
            return TRUE;
        case IDCANCEL:
            OnCancel();
            return TRUE;
        default:
            return FALSE;
    }
}

void Dialog::OnOK() {
    EndDialog(IDOK);
}

void Dialog::OnCancel() {
    EndDialog(IDCANCEL);
}

BOOL Dialog::Bind(int id, Control& control) {
    return control.Subclass(::GetDlgItem(m_hWnd, id));
}

void Dialog::EndDialog(INT_PTR result) {
    ::EndDialog(m_hWnd, result);
}

BOOL Dialog::OnDrawItem(DRAWITEMSTRUCT* drawItem) {
    Control* control = Control::FromHandle(drawItem->hwndItem);
    if (control == nullptr) {
        return FALSE;
    }
    control->DrawItem(drawItem);
    return TRUE;
}

}  // namespace winui
