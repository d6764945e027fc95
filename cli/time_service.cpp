#include "cli/time_service.h"

#include "platform/platform.h"
#include "platform/service_control.h"

const char kTimeServiceWarning[] =
    "the Windows Time service is running and may undo this correction";

namespace {

constexpr DWORD kServiceDoesNotExist = 1060;  // ERROR_SERVICE_DOES_NOT_EXIST
constexpr DWORD kServiceStopped = 1;          // SERVICE_STOPPED

// A service-manager handle, closed through the calls that opened it.
class ServiceHandle {
public:
    ServiceHandle(platform::ServiceControlApi* services, void* handle)
        : services_(services), handle_(handle) {}
    ~ServiceHandle() {
        if (handle_ != nullptr) {
            services_->Close(handle_);
        }
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    void* get() const { return handle_; }

private:
    platform::ServiceControlApi* services_;
    void* handle_;
};

}  // namespace

TimeServiceState QueryTimeService(platform::ServiceControlApi* services) {
    if (services == nullptr) {
        return TimeServiceState::kNoServiceManager;
    }
    const ServiceHandle manager(services, services->OpenManager());
    if (manager.get() == nullptr) {
        return TimeServiceState::kUnknown;
    }
    const ServiceHandle service(services, services->OpenNamedService(manager.get(), "W32Time"));
    if (service.get() == nullptr) {
        return platform::LastError() == kServiceDoesNotExist ? TimeServiceState::kAbsent
                                                             : TimeServiceState::kUnknown;
    }
    DWORD state = 0;
    if (!services->QueryState(service.get(), &state)) {
        return TimeServiceState::kUnknown;
    }
    // Starting, continuing, pausing or stopping: it may still step the clock.
    return state == kServiceStopped ? TimeServiceState::kStopped : TimeServiceState::kRunning;
}

const char* TimeServiceStateName(TimeServiceState state) {
    switch (state) {
        case TimeServiceState::kRunning:
            return "running";
        case TimeServiceState::kStopped:
            return "stopped";
        case TimeServiceState::kAbsent:
            return "absent";
        case TimeServiceState::kNoServiceManager:
        case TimeServiceState::kUnknown:
            break;
    }
    return nullptr;
}
