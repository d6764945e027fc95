/* LD_PRELOAD shim for a client whose clock libfaketime shifts: the kernel stamps arriving
 * datagrams with the true time, so asking for those stamps is refused (as a system without
 * them would) and the client reads its own, shifted, clock for T4. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <sys/socket.h>

int setsockopt(int fd, int level, int name, const void* value, socklen_t length) {
    static int (*real)(int, int, int, const void*, socklen_t);
    if (level == SOL_SOCKET &&
        (name == SO_TIMESTAMP || name == SO_TIMESTAMPNS || name == SO_TIMESTAMPING)) {
        errno = ENOPROTOOPT;
        return -1;
    }
    if (!real) {
        real = (int (*)(int, int, int, const void*, socklen_t))dlsym(RTLD_NEXT, "setsockopt");
    }
    return real(fd, level, name, value, length);
}
