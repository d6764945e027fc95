// The log pane: the typewriter output of every report, and keeping the focus out of it.
#include "app/ntp_client_dlg.h"

namespace {
// The pace of all output: a pause before each character, none before the line end.
constexpr DWORD kTypingPauseMs = 30;
}  // namespace

void CNtpClientDlg::TypeLine(std::string line) {
    m_edLog.SetFont(m_fontLog.Handle(), TRUE);
    const int base = static_cast<int>(m_edLog.GetText().size());
    m_edLog.SetSel(base, base);
    m_edLog.ScrollCaret();
    for (size_t i = 0; i < line.size(); ++i) {
        // From base, not read back: if the pane was cleared meanwhile, a position past
        // its end stands for the end.
        const int position = base + static_cast<int>(i);
        m_edLog.SetSel(position, position);
        m_edLog.ScrollCaret();
        ::Sleep(kTypingPauseMs);
        m_edLog.ReplaceSel(std::string(1, line[i]));
    }
    m_edLog.ReplaceSel("\r\n");
}

void CNtpClientDlg::OnLogSetFocus() {
    ::SetFocus(m_btnRetrieve.Hwnd());
}
