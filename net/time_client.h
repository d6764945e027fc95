// One SNTP exchange (version 3, client mode, one datagram each way) and the setting of the
// system clock under the system-time privilege.
#pragma once

#include <mutex>

#include "platform/platform.h"
#include "time/ntp_timestamp.h"

// What one exchange fills in. A zero m_tsDestination means no exchange got as far as an answer.
struct SntpResult {
    int m_nLeapIndicator = 0;
    int m_nStratum = 0;
    NtpTimestamp m_tsOriginate;    // T1: our transmit time as echoed by the server
    NtpTimestamp m_tsReceive;      // T2: server clock
    NtpTimestamp m_tsTransmit;     // T3: server clock
    NtpTimestamp m_tsDestination;  // T4: local clock when the answer was ready
    double m_dRoundTripDelay = 0.0;
    double m_dClockOffset = 0.0;  // add to the local clock to correct it
};

class TimeClient {
public:
    static constexpr int kNtpPort = 123;
    static constexpr DWORD kAnswerTimeoutMs = 5000;

    // The clock-setting calls go through clockApi: the real platform unless a test injects one.
    explicit TimeClient(platform::SystemClockApi& clockApi = platform::RealSystemClockApi());
    ~TimeClient() = default;
    TimeClient(const TimeClient&) = delete;
    TimeClient& operator=(const TimeClient&) = delete;

    // Non-zero when a valid answer was received and result filled; zero with the reason in
    // the last-error code otherwise (10060 when no answer came in time, 13 for an answer
    // that fails validation).
    BOOL SntpQuery(const char* server, SntpResult* result, int port = kNtpPort);

    // Sets the system clock (UTC) with the system-time privilege on for the change alone.
    BOOL SetClock(const NtpTimestamp* time);

    DWORD Timeout() const { return m_dwTimeout; }

private:
    BOOL EnableSystemTimePrivilege();
    BOOL RestoreSystemTimePrivilege();
    void CloseToken();

    DWORD m_dwTimeout = kAnswerTimeoutMs;
    HANDLE m_hToken = nullptr;
    TOKEN_PRIVILEGES m_tkp{};
    BOOL m_bPrivilegeEnabled = FALSE;

    platform::SystemClockApi& m_clockApi;
    std::mutex m_setClockLock;  // two SetClock calls never overlap on the privilege members
};

// Largest correction accepted: half an NTP era (68 years); beyond it the era of the
// corrected time cannot be told.
constexpr double kMaxClockCorrectionSeconds = 2147483648.0;

// The current time plus a measured clock offset, ready for SetClock. FALSE (last error 13)
// when the offset is not finite or beyond kMaxClockCorrectionSeconds.
BOOL CorrectedClockTime(double clockOffset, NtpTimestamp* target);
