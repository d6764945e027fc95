#include "ui/hover_button.h"

#include <commctrl.h>
#include <windowsx.h>

#include "res/resource.h"
#include "ui/chrome_layout.h"
#include "winui/device_context.h"
#include "winui/win_app.h"

namespace {
// The pointer counts as resting on the button after this long without moving.
constexpr DWORD kHoverTimeMs = 1;
}  // namespace

CHoverButton::CHoverButton()
    : m_hCursorHover(::LoadCursorA(winui::ResourceInstance(), MAKEINTRESOURCEA(IDC_CURSOR_HOVER))),
      m_hCursorPressed(
          ::LoadCursorA(winui::ResourceInstance(), MAKEINTRESOURCEA(IDC_CURSOR_PRESSED))) {}

BOOL CHoverButton::LoadStrip(UINT nIDBitmap) {
    m_bmpStrip.Delete();
    m_nFrameWidth = 0;
    m_nFrameHeight = 0;
    m_bmpStrip.Attach(::LoadBitmapA(winui::ResourceInstance(), MAKEINTRESOURCEA(nIDBitmap)));
    BITMAP header{};
    if (!m_bmpStrip || ::GetObjectA(m_bmpStrip.Handle(), sizeof header, &header) == 0) {
        return FALSE;
    }
    m_nFrameWidth = chrome::FrameWidth(header.bmWidth);
    m_nFrameHeight = header.bmHeight;
    ::SetWindowPos(Hwnd(), nullptr, 0, 0, m_nFrameWidth, m_nFrameHeight, SWP_NOMOVE | SWP_NOZORDER);
    return TRUE;
}

void CHoverButton::DrawItem(DRAWITEMSTRUCT* drawItem) {
    if (!m_bmpStrip) {
        return;
    }
    const bool pressed = (drawItem->itemState & ODS_SELECTED) != 0;
    const chrome::StripFrame frame = chrome::ChooseFrame(pressed, m_bHovering != FALSE);

    winui::MemoryDC memory(drawItem->hDC);
    {
        winui::ObjectSelection strip(memory.Handle(), m_bmpStrip.Handle());
        ::BitBlt(drawItem->hDC, 0, 0, m_nFrameWidth, m_nFrameHeight, memory.Handle(),
                 chrome::FrameSourceX(frame, m_nFrameWidth), 0, SRCCOPY);
    }
    if (pressed) {
        ::SetCursor(m_hCursorPressed);
    }
}

LRESULT CHoverButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_MOUSEMOVE:
            return OnMouseMove(static_cast<UINT>(wParam),
                               POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        case WM_MOUSELEAVE:
            return OnMouseLeave(wParam, lParam);
        case WM_MOUSEHOVER:
            return OnMouseHover(wParam, lParam);
        default:
            return Control::WindowProc(message, wParam, lParam);
    }
}

LRESULT CHoverButton::OnMouseMove(UINT nFlags, POINT point) {
    ::SetCursor(m_hCursorHover);
    if (!m_bMouseTracked) {
        // Until the hover notice arrives every move asks again.
        TRACKMOUSEEVENT track{};
        track.cbSize = sizeof track;
        track.dwFlags = TME_HOVER | TME_LEAVE;
        track.hwndTrack = Hwnd();
        track.dwHoverTime = kHoverTimeMs;
        ::_TrackMouseEvent(&track);
    }
    return Default(WM_MOUSEMOVE, nFlags, MAKELPARAM(point.x, point.y));
}

LRESULT CHoverButton::OnMouseHover(WPARAM, LPARAM) {
    m_bHovering = TRUE;
    m_bMouseTracked = TRUE;
    return ::RedrawWindow(Hwnd(), nullptr, nullptr, RDW_INVALIDATE);
}

LRESULT CHoverButton::OnMouseLeave(WPARAM, LPARAM) {
    m_bMouseTracked = FALSE;
    m_bHovering = FALSE;
    ::RedrawWindow(Hwnd(), nullptr, nullptr, RDW_INVALIDATE);
    return 0;
}
