// Clock setting without access tokens: there is no token to open, so the caller sets the
// clock directly, and the kernel's CAP_SYS_TIME check plays the privilege's part.
#include <cerrno>
#include <ctime>

#include "platform/platform.h"

namespace platform {
namespace {

bool IsValidCalendarTime(const SYSTEMTIME& t) {
    static const int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 || t.wHour > 23 || t.wMinute > 59 ||
        t.wSecond > 59 || t.wMilliseconds > 999 || t.wYear < 1970) {
        return false;
    }
    const bool leap = (t.wYear % 4 == 0 && t.wYear % 100 != 0) || t.wYear % 400 == 0;
    const int days = kDaysInMonth[t.wMonth - 1] + (t.wMonth == 2 && leap ? 1 : 0);
    return t.wDay <= days;
}

class PosixSystemClockApi final : public SystemClockApi {
public:
    BOOL OpenProcessToken(DWORD, HANDLE* token) override {
        *token = nullptr;
        return NotImplemented();
    }
    BOOL LookupPrivilegeValue(const char*, LUID*) override { return NotImplemented(); }
    BOOL AdjustTokenPrivileges(HANDLE, TOKEN_PRIVILEGES*) override { return NotImplemented(); }

    BOOL SetSystemTime(const SYSTEMTIME* utc) override {
        if (!IsValidCalendarTime(*utc)) {
            SetLastError(87);  // ERROR_INVALID_PARAMETER
            return FALSE;
        }
        tm fields{};
        fields.tm_year = utc->wYear - 1900;
        fields.tm_mon = utc->wMonth - 1;
        fields.tm_mday = utc->wDay;
        fields.tm_hour = utc->wHour;
        fields.tm_min = utc->wMinute;
        fields.tm_sec = utc->wSecond;
        timespec when{};
        when.tv_sec = timegm(&fields);
        when.tv_nsec = static_cast<long>(utc->wMilliseconds) * 1000000L;
        if (clock_settime(CLOCK_REALTIME, &when) != 0) {
            SetLastError(errno == EPERM ? ERROR_PRIVILEGE_NOT_HELD : static_cast<DWORD>(errno));
            return FALSE;
        }
        return TRUE;
    }

    BOOL CloseHandle(HANDLE) override { return TRUE; }

private:
    static BOOL NotImplemented() {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
};

}  // namespace

SystemClockApi& RealSystemClockApi() {
    static PosixSystemClockApi api;
    return api;
}

}  // namespace platform
