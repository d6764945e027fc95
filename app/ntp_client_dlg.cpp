#include "app/ntp_client_dlg.h"

#include <windowsx.h>

#include <vector>

#include "app/command_line.h"
#include "app/server_list.h"
#include "res/resource.h"
#include "winui/win_app.h"

namespace {

constexpr UINT kClockPeriodMs = 1000;
constexpr char kServerListPath[] = "url\\time.txt";
// Only ever offered as a name; the program contacts it only when the user asks.
constexpr char kDefaultServer[] = "pool.ntp.org";

// Both fonts: weight 5 (a hair-line weight, as the skin was drawn with), ANSI, proof
// quality, variable-pitch Swiss.
HFONT CreateSkinFont(int height, const char* face) {
    return ::CreateFontA(height, 0, 0, 0, 5, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, PROOF_QUALITY, VARIABLE_PITCH | FF_SWISS, face);
}

}  // namespace

CNtpClientDlg::CNtpClientDlg(HWND parent)
    : winui::Dialog(IDD_QUILLON_DIALOG, parent),
      m_hIcon(::LoadIconA(winui::ResourceInstance(), MAKEINTRESOURCEA(IDR_MAINFRAME))) {}

INT_PTR CNtpClientDlg::DialogMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            return OnPaint();
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
        case WM_TIMER:
            OnTimer(static_cast<UINT>(wParam));
            return FALSE;
        case WM_LBUTTONDOWN:
            OnLButtonDown(static_cast<UINT>(wParam),
                          POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            return TRUE;
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
            // The kinds CTLCOLOR_MSGBOX..CTLCOLOR_STATIC follow the messages' order.
            return reinterpret_cast<INT_PTR>(OnCtlColor(reinterpret_cast<HDC>(wParam),
                                                        reinterpret_cast<HWND>(lParam),
                                                        message - WM_CTLCOLORMSGBOX));
        default:
            return Dialog::DialogMessage(message, wParam, lParam);
    }
}

BOOL CNtpClientDlg::OnCommand(WORD id, WORD notifyCode, HWND control) {
    switch (id) {
        case IDC_RETRIEVE:
            if (notifyCode == BN_CLICKED) {
                OnRetrieve();
                return TRUE;
            }
            break;
        case IDC_LOG:
            if (notifyCode == EN_SETFOCUS) {
                OnLogSetFocus();
                return TRUE;
            }
            break;
        case IDC_ADJUST:
            if (notifyCode == BN_CLICKED) {
                OnAdjust();
                return TRUE;
            }
            break;
        case IDC_ABOUT:
            if (notifyCode == BN_CLICKED) {
                OnAbout();
                return TRUE;
            }
            break;
        default:
            break;
    }
    return Dialog::OnCommand(id, notifyCode, control);
}

void CNtpClientDlg::DoDataExchange() {
    Bind(IDC_ABOUT, m_btnAbout);
    Bind(IDCANCEL, m_btnCancel);
    Bind(IDC_ADJUST, m_btnAdjust);
    Bind(IDC_RETRIEVE, m_btnRetrieve);
    Bind(IDC_SERVER, m_cbServer);
    Bind(IDC_LOG, m_edLog);
}

BOOL CNtpClientDlg::OnInitDialog() {
    Dialog::OnInitDialog();

    ::SendMessageA(Hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageA(Hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    CheckDisplaySettings();
    CreateFonts();
    ::SetTimer(Hwnd(), kClockTimerId, kClockPeriodMs, nullptr);
    FillServerBox();
    LoadButtonStrips();
    m_pWorker = nullptr;

    const CommandLineRequest request = ParseCommandLine(::GetCommandLineA());
    m_strCmdServer = request.server;
    m_strCmdMode = request.mode;
    if (request.StartsRun() && !StartCommandLineRun()) {
        // Without its worker the window keeps its standard frame; nothing is reported.
        return TRUE;
    }

    ShapeWindow();
    return TRUE;
}

void CNtpClientDlg::CreateFonts() {
    m_fontClock.Attach(CreateSkinFont(-22, "Arial"));
    m_fontLog.Attach(CreateSkinFont(-11, "MS Sans Serif"));
}

void CNtpClientDlg::FillServerBox() {
    std::vector<std::string> entries;
    if (ReadServerList(kServerListPath, &entries)) {
        std::size_t bytes = 0;
        for (const std::string& entry : entries) {
            bytes += entry.size() + 1;
        }
        m_cbServer.InitStorage(static_cast<int>(entries.size()), bytes);
        m_cbServer.SetRedraw(FALSE);
        for (const std::string& entry : entries) {
            m_cbServer.AddString(entry);
        }
        m_cbServer.SetRedraw(TRUE);
    }
    if (m_cbServer.GetCount() < 1) {
        m_cbServer.AddString(kDefaultServer);
    }
    m_cbServer.SetCurSel(0);
}

void CNtpClientDlg::LoadButtonStrips() {
    m_btnCancel.LoadStrip(IDB_STRIP_CANCEL);
    m_btnAdjust.LoadStrip(IDB_STRIP_ADJUST);
    m_btnAbout.LoadStrip(IDB_STRIP_ABOUT);
    m_btnRetrieve.LoadStrip(IDB_STRIP_RETRIEVE);
}

BOOL CNtpClientDlg::StartCommandLineRun() {
    return StartWorker(&CommandLineThreadProc);
}
