// A stand-in for the token, privilege and clock calls that records every call and fails
// the ones a test asks it to, so clock setting is tested without touching the real clock.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

struct RecordedCall {
    std::string name;
    DWORD access = 0;            // OpenProcessToken
    std::string privilege;       // LookupPrivilegeValue
    DWORD count = 0;             // AdjustTokenPrivileges: PrivilegeCount
    DWORD attributes = 0;        // AdjustTokenPrivileges: attributes of the entry
    LUID luid{};                 // AdjustTokenPrivileges: the entry's identifier
    SYSTEMTIME time{};           // SetSystemTime
    DWORD lastErrorOnEntry = 0;  // the thread's last-error code when the call was made
};

class RecordingClockApi : public platform::SystemClockApi {
public:
    // Zero: the call succeeds. Otherwise it fails with this last-error code.
    DWORD openError = 0;
    DWORD lookupError = 0;
    DWORD enableError = 0;
    DWORD setTimeError = 0;
    int setTimeSleepMs = 0;
    std::function<void()> whileSetting;  // runs inside SetSystemTime, before it returns

    std::vector<RecordedCall> calls;
    int openTokens = 0;  // opened and not yet closed
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};

    BOOL OpenProcessToken(DWORD access, HANDLE* token) override;
    BOOL LookupPrivilegeValue(const char* name, LUID* luid) override;
    BOOL AdjustTokenPrivileges(HANDLE token, TOKEN_PRIVILEGES* state) override;
    BOOL SetSystemTime(const SYSTEMTIME* utc) override;
    BOOL CloseHandle(HANDLE handle) override;

    std::vector<std::string> Names() const;
};
