#include "platform/error_words.h"

#ifndef _WIN32
#include <cstring>
#endif

namespace platform {
namespace {

struct CodeWords {
    DWORD code;
    const char* words;
};

// Win32 and Winsock numbers; the POSIX layer reports its errno values as these.
const CodeWords kCodeWords[] = {
    {ERROR_NOT_ENOUGH_MEMORY, "not enough memory"},
    {ERROR_INVALID_DATA, "an answer that failed validation"},
    {87, "not a valid time to set"},
    {ERROR_CALL_NOT_IMPLEMENTED, "not available on this system"},
    {ERROR_OPERATION_ABORTED, "the operation was cancelled"},
#ifdef _WIN32
    {1300, "no right to set the clock: run as administrator"},
    {ERROR_PRIVILEGE_NOT_HELD, "no right to set the clock: run as administrator"},
#else
    {ERROR_PRIVILEGE_NOT_HELD, "no right to set the clock: run as root or with CAP_SYS_TIME"},
#endif
    {10004, "interrupted"},
    {10009, "not a valid socket"},
    {10013, "access to the network was denied (a firewall?)"},
    {10014, "a bad address"},
    {10022, "an invalid argument"},
    {10024, "too many sockets open"},
    {10035, "the operation would block"},
    {10040, "the datagram was too long"},
    {10047, "that address family is not supported here"},
    {10049, "the address is not available here"},
    {10050, "the network is down"},
    {10051, "the network is unreachable"},
    {10053, "the connection was aborted"},
    {10054, "the connection was reset"},
    {10055, "no buffer space left"},
    {10057, "not connected"},
    {WSAETIMEDOUT, "no answer in time"},
    {10061, "refused: nothing serves that port"},
    {10065, "the host is unreachable"},
    {10091, "the network is not ready"},
    {10093, "the socket layer was not started"},
    {WSAHOST_NOT_FOUND, "no such host name"},
    {WSATRY_AGAIN, "the name server did not answer for now"},
    {11003, "the name server failed"},
    {WSANO_DATA, "the name has no address of the kind asked"},
};

#ifndef _WIN32
// strerror_r's text whichever of its two forms the C library has (GNU's returns it, POSIX's
// fills the buffer).
[[maybe_unused]] const char* ErrorText(const char* text, const char*) {
    return text;
}
[[maybe_unused]] const char* ErrorText(int failed, const char* buffer) {
    return failed == 0 ? buffer : "";
}
#endif

}  // namespace

std::string ErrorWords(DWORD code) {
    for (const CodeWords& entry : kCodeWords) {
        if (entry.code == code) {
            return entry.words;
        }
    }
#ifndef _WIN32
    // An errno value the POSIX layer passed on as it was.
    if (code > 0 && code < 10000) {
        char buffer[128] = "";
        return ErrorText(strerror_r(static_cast<int>(code), buffer, sizeof buffer), buffer);
    }
#endif
    return "";
}

std::string ErrorReason(DWORD code) {
    const std::string words = ErrorWords(code);
    const std::string number = "last-error code " + std::to_string(code);
    return words.empty() ? number : words + " (" + number + ")";
}

}  // namespace platform
