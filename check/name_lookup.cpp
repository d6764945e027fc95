#include "check/name_lookup.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/platform.h"

namespace check {
namespace {

// What the look-up threads and the waiting caller share. The threads hold it too, so a
// thread that outlives the wait writes into memory that is still there.
struct Board {
    // Every answer goes in under the lock: the threads already started write beside it.
    void Post(std::size_t index, NameAnswer answer) {
        const std::lock_guard<std::mutex> hold(lock);
        answers[index] = std::move(answer);
        done[index] = true;
        --left;
        changed.notify_all();
    }

    std::mutex lock;
    std::condition_variable changed;
    std::vector<NameAnswer> answers;
    std::vector<bool> done;
    std::size_t left = 0;
};

void LookUp(const std::shared_ptr<Board>& board, std::size_t index, const NameQuery& query,
            int port, platform::AddressFamily family) {
    NameAnswer answer;
    answer.resolved =
        platform::ResolveDatagramAddresses(query.host.c_str(), port, family, query.maxAddresses,
                                           &answer.addresses) != FALSE;
    answer.error = answer.resolved ? 0 : platform::LastError();
    board->Post(index, std::move(answer));
}

}  // namespace

std::vector<NameAnswer> LookUpNames(const std::vector<NameQuery>& queries, int port,
                                    platform::AddressFamily family, Deadline deadline) {
    const auto board = std::make_shared<Board>();
    board->answers.resize(queries.size());
    board->done.assign(queries.size(), false);
    board->left = queries.size();
    for (std::size_t i = 0; i < queries.size(); ++i) {
        // An address literal needs no resolver, nor a thread whose start a busy machine
        // could delay past the deadline.
        NameAnswer literal;
        literal.addresses.resize(1);
        if (platform::ResolveAddressLiteral(queries[i].host.c_str(), port, family,
                                            &literal.addresses[0])) {
            literal.resolved = true;
            board->Post(i, std::move(literal));
            continue;
        }
        // The system's resolver call cannot be cancelled, and its own time-outs can add up to
        // minutes: a thread that misses the deadline is let go rather than waited for. It
        // ends when the resolver gives up, or with the process.
        try {
            std::thread(LookUp, board, i, queries[i], port, family).detach();
        } catch (const std::system_error&) {
            // No thread to be had: this name is simply not looked up.
            NameAnswer none;
            none.error = ERROR_NOT_ENOUGH_MEMORY;
            board->Post(i, std::move(none));
        }
    }
    std::unique_lock<std::mutex> hold(board->lock);
    board->changed.wait_until(hold, deadline, [&board] { return board->left == 0; });
    std::vector<NameAnswer> answers = board->answers;
    for (std::size_t i = 0; i < answers.size(); ++i) {
        if (!board->done[i]) {
            answers[i].timedOut = true;
            answers[i].error = WSAETIMEDOUT;
        }
    }
    return answers;
}

}  // namespace check
