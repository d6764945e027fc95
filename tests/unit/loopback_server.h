// A datagram server on a loopback address (127.0.0.1 and an ephemeral port unless told
// otherwise), run on its own thread, that answers each request with whatever the test's
// responder returns (nothing for silence).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

using Datagram = std::vector<std::uint8_t>;
// Returns the datagrams to send back for one request (none for silence).
using Responder = std::function<std::vector<Datagram>(const Datagram& request)>;

class LoopbackServer {
public:
    // address: a dotted 127.x.y.z; port 0 for an ephemeral one. Throws when it cannot bind.
    explicit LoopbackServer(Responder responder, const char* address = "127.0.0.1", int port = 0);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int Port() const { return m_port; }
    int RequestCount() const { return m_requests.load(); }

private:
    void Serve();

    Responder m_responder;
    std::intptr_t m_socket = -1;
    int m_port = 0;
    std::atomic<int> m_requests{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Open descriptors (Linux) or handles (Windows) of this process, to spot leaks; -1 where
// the platform cannot tell (Wine does not count handles).
int OpenHandleCount();

// Skips the calling test unless name look-ups stay on loopback (scripts/run-isolated):
// asking the machine's resolver about an unknown name would send a query off this host.
#define SKIP_UNLESS_DNS_ISOLATED()                      \
    if (std::getenv("QUILLON_DNS_ISOLATED") == nullptr) \
    GTEST_SKIP() << "name look-ups are not isolated (run through scripts/run-isolated)"

// Skips the calling test where handles cannot be counted.
#define SKIP_WITHOUT_HANDLE_COUNT() \
    if (OpenHandleCount() <= 0)     \
    GTEST_SKIP() << "this platform does not count handles"
