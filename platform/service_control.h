// The service manager's calls that tell whether a Windows service runs, an interface so that
// tests can stand in for them.
#pragma once

#include "platform/win_types.h"

namespace platform {

class ServiceControlApi {
public:
    virtual ~ServiceControlApi() = default;
    // OpenSCManagerW(local, active database, SC_MANAGER_CONNECT); nullptr with the last error.
    virtual void* OpenManager() = 0;
    // OpenServiceA(manager, name, SERVICE_QUERY_STATUS); nullptr with the last error
    // (1060, ERROR_SERVICE_DOES_NOT_EXIST, when there is no such service).
    virtual void* OpenNamedService(void* manager, const char* name) = 0;
    // QueryServiceStatus: the service's dwCurrentState (1 SERVICE_STOPPED ... 7 paused).
    virtual BOOL QueryState(void* service, DWORD* state) = 0;
    // CloseServiceHandle, for both kinds of handle.
    virtual void Close(void* handle) = 0;
};

// This system's service manager; nullptr where there is none (off Windows).
ServiceControlApi* SystemServiceControl();

}  // namespace platform
