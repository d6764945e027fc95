// The synchronisation runs, each on its own worker thread: one SNTP exchange, its report
// and, for a command-line run in mode "Y", the setting of the clock. A worker reaches the
// controls only through sent messages, which the window's thread carries out while the
// worker waits; the window's thread never waits for a worker.
#include "app/ntp_client_dlg.h"
#include "app/report_lines.h"
#include "app/socket_layer.h"
#include "app/sync_run.h"

namespace {
constexpr UINT kRunCompleted = 0;
constexpr UINT kRunSocketLayerFailed = 1;
}  // namespace

BOOL CNtpClientDlg::StartWorker(winui::WorkerThread::Procedure procedure) {
    return winui::WorkerThread::Begin(procedure, this, THREAD_PRIORITY_NORMAL, &m_pWorker) !=
           nullptr;
}

UINT CNtpClientDlg::RetrieveThreadProc(LPVOID param) {
    auto* dlg = static_cast<CNtpClientDlg*>(param);
    return dlg->FinishRun(dlg->RetrieveRun());
}

UINT CNtpClientDlg::CommandLineThreadProc(LPVOID param) {
    auto* dlg = static_cast<CNtpClientDlg*>(param);
    return dlg->FinishRun(dlg->CommandLineRun());
}

UINT CNtpClientDlg::FinishRun(UINT exitCode) {
    m_pWorker = nullptr;
    return exitCode;
}

UINT CNtpClientDlg::RetrieveRun() {
    // Read again here: the box may have changed since the look-up line was typed.
    return ExchangeAndReport(m_cbServer.GetText(), false);
}

UINT CNtpClientDlg::CommandLineRun() {
    TypeLine(report::LookupLine(m_strCmdServer));
    return ExchangeAndReport(m_strCmdServer, report::ModeSetsClock(m_strCmdMode));
}

UINT CNtpClientDlg::ExchangeAndReport(const std::string& server, bool setClockAfter) {
    SocketLayer sockets;
    if (!StartSocketLayer(&sockets)) {
        return kRunSocketLayerFailed;
    }
    RunSync(&m_result, &m_timeClient, server, TimeClient::kNtpPort, setClockAfter,
            [this](const std::string& line) { TypeLine(line); });
    return kRunCompleted;
}

BOOL CNtpClientDlg::StartSocketLayer(SocketLayer* sockets) {
    const char* failure = sockets->StartOrFailureText();
    if (failure != nullptr) {
        m_edLog.SetText(failure);
        return FALSE;
    }
    return TRUE;
}
