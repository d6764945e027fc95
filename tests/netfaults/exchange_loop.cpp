// quillon-exchange-loop: many exchanges in a row on one TimeClient, as a long-running
// window does, counting this process's open descriptors before, during and after.
//
//   quillon-exchange-loop SERVER PORT COUNT [EXPECTED_OFFSET]
//
// Prints one line "key value" per figure: exchanges, succeeded, failed, the last-error codes
// of the failures, descriptors before and after, the most sockets open at once (sampled by
// a second thread while the exchanges run), and the range of offsets and delays. With
// EXPECTED_OFFSET (the server's known clock error) it also counts the answers whose offset lies
// farther from it than half their round-trip delay plus the client's 1 ms clock step: no path
// asymmetry can explain those.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "net/time_client.h"

namespace {

// Entries of /proc/self/fd (. and .. aside) for which counts(name) holds.
template <typename Counts>
int CountDescriptors(Counts counts) {
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr) {
        return -1;
    }
    int count = 0;
    while (const dirent* entry = readdir(folder)) {
        count += entry->d_name[0] != '.' && counts(entry->d_name) ? 1 : 0;
    }
    closedir(folder);
    return count;
}

// All descriptors, less the one the listing itself holds open.
int OpenDescriptors() {
    return CountDescriptors([](const char*) { return true; }) - 1;
}

int OpenSockets() {
    return CountDescriptors([](const char* name) {
        char target[64] = {};
        const std::string link = std::string("/proc/self/fd/") + name;
        return readlink(link.c_str(), target, sizeof target - 1) > 0 &&
               std::strncmp(target, "socket:", 7) == 0;
    });
}

// Samples the socket count until stopped; keeps the largest. Sockets alone are what the
// check is about; a count of all descriptors sampled under load now and then came out one
// above what the process held.
class DescriptorWatch {
public:
    DescriptorWatch() : m_thread([this] { Watch(); }) {}
    ~DescriptorWatch() { Stop(); }
    DescriptorWatch(const DescriptorWatch&) = delete;
    DescriptorWatch& operator=(const DescriptorWatch&) = delete;

    int Stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
        return m_peak;
    }

private:
    void Watch() {
        while (!m_stop) {
            m_peak = std::max(m_peak.load(), OpenSockets());
        }
    }

    std::atomic<bool> m_stop{false};
    std::atomic<int> m_peak{0};
    std::thread m_thread;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: quillon-exchange-loop SERVER PORT COUNT [EXPECTED_OFFSET]\n");
        return 2;
    }
    const char* server = argv[1];
    const int port = std::atoi(argv[2]);
    const int count = std::atoi(argv[3]);
    const bool checkOffset = argc == 5;
    const double expected = checkOffset ? std::atof(argv[4]) : 0.0;

    TimeClient client;
    const int before = OpenDescriptors();
    DescriptorWatch watch;
    int succeeded = 0;
    int outside = 0;
    std::map<unsigned long, int> failures;
    double minOffset = 1e300, maxOffset = -1e300, minDelay = 1e300, maxDelay = -1e300;
    for (int i = 0; i < count; ++i) {
        SntpResult result;
        if (client.SntpQuery(server, &result, port)) {
            ++succeeded;
            minOffset = std::min(minOffset, result.m_dClockOffset);
            maxOffset = std::max(maxOffset, result.m_dClockOffset);
            minDelay = std::min(minDelay, result.m_dRoundTripDelay);
            maxDelay = std::max(maxDelay, result.m_dRoundTripDelay);
            const double bound = std::fabs(result.m_dRoundTripDelay) / 2 + 0.001;
            outside += std::fabs(result.m_dClockOffset - expected) > bound ? 1 : 0;
        } else {
            ++failures[static_cast<unsigned long>(platform::LastError())];
        }
    }
    // The watch's own thread holds no descriptor; the count is the same with it gone.
    const int peak = watch.Stop();
    const int after = OpenDescriptors();

    std::printf("exchanges %d\nsucceeded %d\nfailed %d\n", count, succeeded, count - succeeded);
    for (const auto& [code, times] : failures) {
        std::printf("failure_code %lu %d\n", code, times);
    }
    std::printf("descriptors_before %d\ndescriptors_after %d\nsockets_peak %d\n", before, after,
                peak);
    if (succeeded > 0) {
        std::printf("offset_min %.6f\noffset_max %.6f\ndelay_min %.6f\ndelay_max %.6f\n", minOffset,
                    maxOffset, minDelay, maxDelay);
    }
    if (checkOffset) {
        std::printf("offset_outside_bound %d\n", outside);
    }
    return 0;
}
