// The dialog's own look in place of a standard window: display warnings, the clipped
// window region, dragging by the body, the clock face, green-on-black controls and the
// minimised icon.
#include <ctime>

#include "app/ntp_client_dlg.h"
#include "res/resource.h"
#include "ui/chrome_layout.h"
#include "winui/device_context.h"
#include "winui/win_app.h"

namespace {

constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kBlack = RGB(0, 0, 0);
// The skin's pictures and fonts were drawn for this scale and colour depth.
constexpr int kStandardDpi = 96;
constexpr int kMinimumBitsPerPixel = 16;

// The notes' wording ("STANARD", "less then") is the program's own, kept as users know it.
constexpr char kFontScaleText[] =
    "Current Fonts Scale is not standard.\r\n"
    "(Standard scale of fonts is 96 dpi i.e. \x93small fonts\x94.)\r\n"
    "For better viewing please modify DISPLAY SETTINGS.\r\n";
constexpr char kFontScaleCaption[] = "NOTE: FONTS SCALE IS NOT STANARD";
constexpr char kColoursText[] =
    "Current number of colors is less then 16 bit.\r\n"
    "For better viewing please modify DISPLAY SETTINGS.\r\n";
constexpr char kColoursCaption[] = "NOTE: COLORS LESS THEN 16 BIT";

chrome::Rect ToLayout(const RECT& rect) {
    return chrome::Rect{rect.left, rect.top, rect.right, rect.bottom};
}

RECT ToRect(const chrome::Rect& rect) {
    return RECT{rect.left, rect.top, rect.right, rect.bottom};
}

}  // namespace

void CNtpClientDlg::CheckDisplaySettings() {
    winui::InformationContext display("DISPLAY");
    const int dpiX = ::GetDeviceCaps(display.Handle(), LOGPIXELSX);
    const int dpiY = ::GetDeviceCaps(display.Handle(), LOGPIXELSY);
    const int bitsPerPixel = ::GetDeviceCaps(display.Handle(), BITSPIXEL);
    if (dpiX != kStandardDpi || dpiY != kStandardDpi) {
        ::MessageBoxA(Hwnd(), kFontScaleText, kFontScaleCaption, MB_OK | MB_ICONHAND);
    }
    if (bitsPerPixel < kMinimumBitsPerPixel) {
        ::MessageBoxA(Hwnd(), kColoursText, kColoursCaption, MB_OK | MB_ICONHAND);
    }
}

void CNtpClientDlg::ShapeWindow() {
    RECT client{};
    ::GetClientRect(Hwnd(), &client);
    const int frameWidth = ::GetSystemMetrics(SM_CXDLGFRAME);
    const chrome::Rect shaped = chrome::ShapedClientRect(ToLayout(client), frameWidth);
    m_rcClient = ToRect(shaped);

    // The picture draws its bitmap from its top-left corner, so the bitmap's first
    // frameWidth columns fall outside the client area.
    ::MoveWindow(::GetDlgItem(Hwnd(), IDC_BACKGROUND), shaped.left, shaped.top, shaped.Width(),
                 shaped.Height(), TRUE);

    const int captionHeight = ::GetSystemMetrics(SM_CYDLGFRAME) + ::GetSystemMetrics(SM_CYCAPTION);
    const chrome::Rect visible = chrome::WindowRegionRect(shaped, frameWidth, captionHeight);
    winui::Region region(::CreateRectRgn(visible.left, visible.top, visible.right, visible.bottom));
    // The dialog is the application's main window; the system owns the region once it is set.
    if (::SetWindowRgn(Hwnd(), region.Handle(), TRUE) != 0) {
        region.Release();
    }
}

BOOL CNtpClientDlg::OnPaint() {
    if (!::IsIconic(Hwnd())) {
        return FALSE;
    }
    winui::PaintDC dc(Hwnd());
    ::SendMessageA(Hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.Handle()), 0);
    const int iconWidth = ::GetSystemMetrics(SM_CXICON);
    const int iconHeight = ::GetSystemMetrics(SM_CYICON);
    RECT client{};
    ::GetClientRect(Hwnd(), &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    ::DrawIcon(dc.Handle(), x, y, m_hIcon);
    return TRUE;
}

HCURSOR CNtpClientDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}

void CNtpClientDlg::OnTimer(UINT nIDEvent) {
    if (nIDEvent != kClockTimerId) {
        return;
    }
    winui::WindowDC dc(Hwnd());
    // Opaque black behind the digits wipes the previous second in the same drawing.
    ::SetBkColor(dc.Handle(), kBlack);
    ::SetTextColor(dc.Handle(), kGreen);

    const std::time_t now = std::time(nullptr);
    // Only this thread reads the local time, so localtime's shared buffer is safe here.
    const std::tm* local = std::localtime(&now);
    if (local == nullptr) {
        return;
    }
    const std::string text = chrome::ClockText(*local);

    winui::ObjectSelection font(dc.Handle(), m_fontClock.Handle());
    SIZE extent{};
    ::GetTextExtentPoint32A(dc.Handle(), text.c_str(), static_cast<int>(text.size()), &extent);
    // Drawn over the background picture: the dialog does not clip its children.
    const chrome::Point origin = chrome::ClockOrigin(ToLayout(m_rcClient), extent.cx);
    ::TextOutA(dc.Handle(), origin.x, origin.y, text.c_str(), static_cast<int>(text.size()));
}

void CNtpClientDlg::OnLButtonDown(UINT, POINT point) {
    // A press on the body counts as a press on the title bar, so the system drags the window.
    ::PostMessageA(Hwnd(), WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(point.x, point.y));
    ::SetCursor(::LoadCursorA(winui::ResourceInstance(), MAKEINTRESOURCEA(IDC_CURSOR_DRAG)));
}

HBRUSH CNtpClientDlg::OnCtlColor(HDC hdc, HWND, UINT nCtlColor) {
    if (nCtlColor == CTLCOLOR_EDIT || nCtlColor == CTLCOLOR_LISTBOX ||
        nCtlColor == CTLCOLOR_STATIC) {
        ::SetTextColor(hdc, kGreen);
        ::SetBkMode(hdc, TRANSPARENT);
        ::SetBkColor(hdc, kBlack);
    }
    return static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
}
