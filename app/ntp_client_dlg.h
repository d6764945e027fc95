// The program's one window: a modal dialog on template 102 with the server box, the log
// pane, four picture buttons and a clock. It owns the time client, the result of the last
// exchange and the worker thread marker.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>

#include "app/shared_result.h"
#include "net/time_client.h"
#include "ui/hover_button.h"
#include "winui/combo_box.h"
#include "winui/dialog.h"
#include "winui/edit.h"
#include "winui/gdi_object.h"
#include "winui/worker_thread.h"

class SocketLayer;

class CNtpClientDlg : public winui::Dialog {
public:
    explicit CNtpClientDlg(HWND parent = nullptr);

    // A worker still runs; it must not outlive this object.
    bool WorkerRunning() const { return m_pWorker.load() != nullptr; }

    // Appends one line to the log pane, one character every 30 ms, then CR LF. Callable
    // from any thread: every step on the pane runs on the window's thread.
    void TypeLine(std::string line);

protected:
    INT_PTR DialogMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void DoDataExchange() override;
    BOOL OnInitDialog() override;
    BOOL OnCommand(WORD id, WORD notifyCode, HWND control) override;

private:
    // Started at initialisation, drawn on by the chrome's OnTimer.
    static constexpr UINT_PTR kClockTimerId = 1;

    // Initialisation (ntp_client_dlg.cpp).
    void CreateFonts();
    void FillServerBox();
    void LoadButtonStrips();
    BOOL StartCommandLineRun();

    // Commands (commands.cpp).
    void OnRetrieve();
    void OnAdjust();
    void OnAbout();
    void ClearLog();

    // Synchronisation runs on a worker (sync_runs.cpp).
    static UINT RetrieveThreadProc(LPVOID param);
    static UINT CommandLineThreadProc(LPVOID param);
    UINT RetrieveRun();
    UINT CommandLineRun();
    // One exchange with its report (and, when asked, the setting of the clock), between
    // this run's own start and end of the socket layer.
    UINT ExchangeAndReport(const std::string& server, bool setClockAfter);
    BOOL StartWorker(winui::WorkerThread::Procedure procedure);
    // Clears m_pWorker: the worker's last touch of this object.
    UINT FinishRun(UINT exitCode);
    // Starts this run's own reference on the socket layer; on failure the whole log pane
    // is replaced by the reason.
    BOOL StartSocketLayer(SocketLayer* sockets);

    // Log pane (log_pane.cpp).
    void OnLogSetFocus();

    // Window chrome (ui/window_chrome.cpp).
    void CheckDisplaySettings();
    void ShapeWindow();
    BOOL OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnTimer(UINT nIDEvent);
    void OnLButtonDown(UINT nFlags, POINT point);
    HBRUSH OnCtlColor(HDC hdc, HWND control, UINT nCtlColor);

    TimeClient m_timeClient;
    std::atomic<winui::WorkerThread*> m_pWorker{nullptr};
    // Measured by a worker, read and spent by Adjust on the window's thread.
    SharedResult m_result;
    RECT m_rcClient{};
    CHoverButton m_btnAbout;
    CHoverButton m_btnCancel;
    CHoverButton m_btnAdjust;
    CHoverButton m_btnRetrieve;
    winui::ComboBox m_cbServer;
    winui::Edit m_edLog;
    HICON m_hIcon;
    winui::Font m_fontClock;
    winui::Font m_fontLog;
    // Written before the command-line worker starts, only read afterwards.
    std::string m_strCmdServer;
    std::string m_strCmdMode;
};
