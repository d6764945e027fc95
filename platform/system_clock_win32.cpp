// The token, privilege and clock-setting calls of Windows.
#include "platform/platform.h"

namespace platform {
namespace {

class Win32SystemClockApi final : public SystemClockApi {
public:
    BOOL OpenProcessToken(DWORD access, HANDLE* token) override {
        return ::OpenProcessToken(::GetCurrentProcess(), access, token);
    }
    BOOL LookupPrivilegeValue(const char* name, LUID* luid) override {
        return ::LookupPrivilegeValueA(nullptr, name, luid);
    }
    BOOL AdjustTokenPrivileges(HANDLE token, TOKEN_PRIVILEGES* state) override {
        return ::AdjustTokenPrivileges(token, FALSE, state, 0, nullptr, nullptr);
    }
    BOOL SetSystemTime(const SYSTEMTIME* utc) override { return ::SetSystemTime(utc); }
    BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }
};

}  // namespace

SystemClockApi& RealSystemClockApi() {
    static Win32SystemClockApi api;
    return api;
}

}  // namespace platform
