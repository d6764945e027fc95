#include "platform/posix_errors.h"

#include <netdb.h>

#include <cerrno>

namespace platform {

DWORD WinsockCodeFromErrno(int error) {
    switch (error) {
        case EINTR:
            return 10004;
        case EBADF:
            return 10009;
        case EACCES:
            return 10013;
        case EFAULT:
            return 10014;
        case EINVAL:
            return 10022;
        case EMFILE:
            return 10024;
        case EWOULDBLOCK:
            return 10035;
        case EMSGSIZE:
            return 10040;
        case EAFNOSUPPORT:
            return 10047;
        case EADDRNOTAVAIL:
            return 10049;
        case ENETDOWN:
            return 10050;
        case ENETUNREACH:
            return 10051;
        case ENOBUFS:
            return 10055;
        case ECONNABORTED:
            return 10053;
        case ECONNRESET:
            return 10054;
        case ENOTCONN:
            return 10057;
        case ETIMEDOUT:
            return 10060;
        case ECONNREFUSED:
            return 10061;
        case EHOSTUNREACH:
            return 10065;
        default:
            return static_cast<DWORD>(error);
    }
}

DWORD WinsockCodeFromResolver(int error) {
    switch (error) {
        case EAI_NONAME:
            return WSAHOST_NOT_FOUND;
        case EAI_AGAIN:
            return WSATRY_AGAIN;
#ifdef EAI_NODATA
        case EAI_NODATA:
            return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY:
            return WSANO_DATA;
#endif
        case EAI_SYSTEM:
            return WinsockCodeFromErrno(errno);
        default:
            return 11003;  // WSANO_RECOVERY
    }
}

}  // namespace platform
