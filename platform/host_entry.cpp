// Reading the address out of gethostbyname's answer (portable, so it is tested natively too).
#include <cstring>

#include "platform/platform.h"

namespace platform {

BOOL FirstHostAddress(const hostent* entry, in_addr* address) {
    if (entry->h_addrtype != AF_INET || entry->h_length != sizeof(in_addr) ||
        entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
        SetLastError(WSANO_DATA);
        return FALSE;
    }
    std::memcpy(address, entry->h_addr_list[0], sizeof(in_addr));
    return TRUE;
}

}  // namespace platform
