// No Windows services here: whoever keeps this system's clock is not asked.
#include "platform/service_control.h"

namespace platform {

ServiceControlApi* SystemServiceControl() {
    return nullptr;
}

}  // namespace platform
