#include "recording_clock_api.h"

#include <chrono>
#include <thread>

namespace {

HANDLE FakeToken() {
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x7001));
}

RecordedCall Call(const char* name) {
    RecordedCall call;
    call.name = name;
    return call;
}

BOOL Outcome(DWORD error) {
    if (error != 0) {
        platform::SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

BOOL RecordingClockApi::OpenProcessToken(DWORD access, HANDLE* token) {
    RecordedCall call = Call("open");
    call.access = access;
    call.lastErrorOnEntry = platform::LastError();
    calls.push_back(call);
    if (openError != 0) {
        return Outcome(openError);
    }
    ++openTokens;
    *token = FakeToken();
    return TRUE;
}

BOOL RecordingClockApi::LookupPrivilegeValue(const char* name, LUID* luid) {
    RecordedCall call = Call("lookup");
    call.privilege = name;
    calls.push_back(call);
    luid->LowPart = 22;  // the system-time privilege's identifier on Windows
    luid->HighPart = 0;
    return Outcome(lookupError);
}

BOOL RecordingClockApi::AdjustTokenPrivileges(HANDLE token, TOKEN_PRIVILEGES* state) {
    RecordedCall call = Call(token == FakeToken() ? "adjust" : "adjust-bad-token");
    call.count = state->PrivilegeCount;
    call.attributes = state->Privileges[0].Attributes;
    call.luid = state->Privileges[0].Luid;
    calls.push_back(call);
    // Only the enabling call is made to fail; switching off always works.
    return Outcome((call.attributes & SE_PRIVILEGE_ENABLED) != 0 ? enableError : 0);
}

BOOL RecordingClockApi::SetSystemTime(const SYSTEMTIME* utc) {
    if (inside.fetch_add(1) != 0) {
        overlapped = true;
    }
    RecordedCall call = Call("set");
    call.time = *utc;
    call.lastErrorOnEntry = platform::LastError();
    if (setTimeSleepMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(setTimeSleepMs));
    }
    if (whileSetting) {
        whileSetting();
    }
    calls.push_back(call);
    inside.fetch_sub(1);
    return Outcome(setTimeError);
}

BOOL RecordingClockApi::CloseHandle(HANDLE handle) {
    calls.push_back(Call(handle == FakeToken() ? "close" : "close-bad-handle"));
    --openTokens;
    return TRUE;
}

std::vector<std::string> RecordingClockApi::Names() const {
    std::vector<std::string> names;
    for (const RecordedCall& call : calls) {
        names.push_back(call.name);
    }
    return names;
}
