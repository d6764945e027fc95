// An SNTP responder on an ephemeral 127.0.0.1 port, served by its own thread, that answers
// every request at once the way a synchronised stratum-2 server does.
#pragma once

#include <atomic>
#include <thread>

class LoopbackResponder {
public:
    LoopbackResponder();
    ~LoopbackResponder();
    LoopbackResponder(const LoopbackResponder&) = delete;
    LoopbackResponder& operator=(const LoopbackResponder&) = delete;

    bool Ready() const { return m_socket >= 0; }
    int Port() const { return m_port; }

private:
    void Serve();

    int m_socket = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
