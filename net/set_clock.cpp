// Setting the system clock with the system-time privilege switched on for the change alone.
#include <cstring>

#include "net/time_client.h"

namespace {

constexpr DWORD kTokenAccess = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;  // 40
constexpr char kSystemTimePrivilege[] = "SeSystemtimePrivilege";

}  // namespace

BOOL TimeClient::EnableSystemTimePrivilege() {
    const BOOL opened = m_clockApi.OpenProcessToken(kTokenAccess, &m_hToken);
    m_bPrivilegeEnabled = FALSE;
    if (!opened) {
        m_hToken = nullptr;
        // No access tokens on this system: the clock is set without privilege handling.
        if (platform::LastError() == ERROR_CALL_NOT_IMPLEMENTED) {
            platform::SetLastError(0);
            return TRUE;
        }
        return FALSE;
    }

    std::memset(&m_tkp, 0, sizeof m_tkp);
    if (!m_clockApi.LookupPrivilegeValue(kSystemTimePrivilege, &m_tkp.Privileges[0].Luid)) {
        return FALSE;
    }
    m_tkp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    m_tkp.PrivilegeCount = 1;
    m_bPrivilegeEnabled = TRUE;
    // Succeeds even when the token lacks the privilege; SetSystemTime then refuses.
    return m_clockApi.AdjustTokenPrivileges(m_hToken, &m_tkp);
}

BOOL TimeClient::RestoreSystemTimePrivilege() {
    if (!m_bPrivilegeEnabled) {
        return FALSE;
    }
    m_tkp.Privileges[0].Attributes &= ~SE_PRIVILEGE_ENABLED;
    return m_clockApi.AdjustTokenPrivileges(m_hToken, &m_tkp);
}

void TimeClient::CloseToken() {
    if (m_hToken != nullptr) {
        m_clockApi.CloseHandle(m_hToken);
        m_hToken = nullptr;
    }
}

BOOL TimeClient::SetClock(const NtpTimestamp* time) {
    const std::lock_guard<std::mutex> oneAtATime(m_setClockLock);
    BOOL result = FALSE;
    if (EnableSystemTimePrivilege()) {
        const SYSTEMTIME utc = time->ToSystemTime();
        result = m_clockApi.SetSystemTime(&utc);
    }
    const DWORD reason = platform::LastError();
    RestoreSystemTimePrivilege();
    CloseToken();
    platform::SetLastError(reason);
    return result;
}

BOOL CorrectedClockTime(double clockOffset, NtpTimestamp* target) {
    // An offset that is not a finite number, or so large that the era of the result is
    // ambiguous, would set the clock to garbage.
    if (!(clockOffset > -kMaxClockCorrectionSeconds && clockOffset < kMaxClockCorrectionSeconds)) {
        platform::SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    *target = NtpTimestamp::Now().AddSeconds(clockOffset);
    return TRUE;
}
