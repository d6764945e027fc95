// POSIX errors as the Winsock numbers the rest of the program reads (POSIX side only).
#pragma once

#include "platform/win_types.h"

namespace platform {

// Winsock numbers for the errno values a datagram or stream client can meet, so that a reason reads
// the same on both platforms. Anything else is passed on as the errno value.
DWORD WinsockCodeFromErrno(int error);
// getaddrinfo's result codes as the resolver codes of Winsock (11001 ...).
DWORD WinsockCodeFromResolver(int error);

}  // namespace platform
