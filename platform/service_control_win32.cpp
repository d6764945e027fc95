// The service manager of Windows.
#include "platform/service_control.h"

namespace platform {
namespace {

class Win32ServiceControlApi final : public ServiceControlApi {
public:
    void* OpenManager() override { return ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT); }
    void* OpenNamedService(void* manager, const char* name) override {
        return ::OpenServiceA(static_cast<SC_HANDLE>(manager), name, SERVICE_QUERY_STATUS);
    }
    BOOL QueryState(void* service, DWORD* state) override {
        SERVICE_STATUS status{};
        if (!::QueryServiceStatus(static_cast<SC_HANDLE>(service), &status)) {
            return FALSE;
        }
        *state = status.dwCurrentState;
        return TRUE;
    }
    void Close(void* handle) override { ::CloseServiceHandle(static_cast<SC_HANDLE>(handle)); }
};

}  // namespace

ServiceControlApi* SystemServiceControl() {
    static Win32ServiceControlApi api;
    return &api;
}

}  // namespace platform
