// The three button commands, on the window's thread. Every outcome goes to the log pane.
#include "app/about_lines.h"
#include "app/ntp_client_dlg.h"
#include "app/report_lines.h"

void CNtpClientDlg::OnRetrieve() {
    const std::string server = m_cbServer.GetText();
    ClearLog();
    if (server.empty()) {
        return;
    }
    // Typed on this thread: the window waits for the line, and so does a running worker.
    TypeLine(report::LookupLine(server));
    if (m_pWorker.load() == nullptr) {
        StartWorker(&RetrieveThreadProc);
    }
}

void CNtpClientDlg::OnAdjust() {
    const SntpResult last = m_result.Copy();
    if (last.m_tsDestination.IsZero()) {
        // No exchange has come as far as an answer: measure first, set on the next press.
        OnRetrieve();
        return;
    }
    ClearLog();
    TypeLine(m_result.SetClockFromOffset(&m_timeClient) ? report::kSynchronised
                                                        : report::kSetFailed);
}

void CNtpClientDlg::OnAbout() {
    ClearLog();
    for (const std::string& line : about::AboutLines(QUILLON_CONTACT)) {
        TypeLine(line);
    }
}

void CNtpClientDlg::ClearLog() {
    m_edLog.SetText("");
    // The empty pane shows before the typing that usually follows blocks the window.
    ::UpdateWindow(m_edLog.Hwnd());
}
