#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "nts/system_trust.h"

namespace nts {
namespace {

const char kTimedOut[] =
    "key exchange not finished within the time-out (judging the certificate chain)";

// What the judging thread and the waiting key exchange share. The thread holds it too, so a
// judgement that outlives the wait reads and writes memory that is still there.
struct Judgement {
    Judgement() { mbedtls_x509_crt_init(&chain); }
    ~Judgement() { mbedtls_x509_crt_free(&chain); }
    Judgement(const Judgement&) = delete;
    Judgement& operator=(const Judgement&) = delete;

    mbedtls_x509_crt chain;  // a copy: the TLS session's goes with the key exchange
    std::string host;
    bool hostIsAddress = false;
    DWORD timeoutMs = 0;
    CertificateTime judge = CertificateTime::kLocal;

    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    bool trusted = false;
    CertificateWindow window;
    std::string error;
};

void Judge(const std::shared_ptr<Judgement>& judgement) {
    std::string error;
    CertificateWindow window;
    const bool trusted =
        SystemTrustsChain(&judgement->chain, judgement->host, judgement->hostIsAddress,
                          judgement->timeoutMs, judgement->judge, &window, &error);
    const std::lock_guard<std::mutex> hold(judgement->lock);
    judgement->trusted = trusted;
    judgement->window = std::move(window);
    judgement->error = std::move(error);
    judgement->done = true;
    judgement->finished.notify_all();
}

}  // namespace

bool SystemTrustsChainBy(const mbedtls_x509_crt* chain, const std::string& host, bool hostIsAddress,
                         Deadline deadline, CertificateTime judge, CertificateWindow* window,
                         std::string* error) {
    const auto judgement = std::make_shared<Judgement>();
    for (const mbedtls_x509_crt* c = chain; c != nullptr && c->raw.p != nullptr; c = c->next) {
        if (mbedtls_x509_crt_parse_der(&judgement->chain, c->raw.p, c->raw.len) != 0) {
            *error = "the server's certificate cannot be read";
            return false;
        }
    }
    judgement->host = host;
    judgement->hostIsAddress = hostIsAddress;
    judgement->judge = judge;
    // Also each retrieval's: a time-out of 0 would be the engine's default of 15 s.
    judgement->timeoutMs = MillisecondsUntil(deadline);
    if (judgement->timeoutMs == 0) {
        *error = kTimedOut;
        return false;
    }
    try {
        std::thread(Judge, judgement).detach();
    } catch (const std::system_error&) {
        *error = "no thread to be had for judging the certificate chain";
        return false;
    }
    std::unique_lock<std::mutex> hold(judgement->lock);
    if (!judgement->finished.wait_until(hold, deadline, [&judgement] { return judgement->done; })) {
        *error = kTimedOut;
        return false;
    }
    *error = judgement->error;
    *window = judgement->window;
    return judgement->trusted;
}

}  // namespace nts
