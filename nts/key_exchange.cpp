#include "nts/key_exchange.h"

#include <psa/crypto.h>

#include <thread>

#include "nts/tls_channel.h"
#include "nts/wipe.h"
#include "platform/error_words.h"
#include "platform/platform.h"
#include "platform/stream_socket.h"

namespace nts {
namespace {

const char kConnectTimedOut[] = "key exchange not finished within the time-out (connecting)";

// The threads of the exchanges, joined however the starting ends.
class Joined {
public:
    Joined() = default;
    ~Joined() {
        for (std::thread& thread : m_threads) {
            thread.join();
        }
    }
    Joined(const Joined&) = delete;
    Joined& operator=(const Joined&) = delete;

    template <typename Work>
    void Start(Work work) {
        m_threads.emplace_back(std::move(work));
    }

private:
    std::vector<std::thread> m_threads;
};

bool Exchange(const KeTarget& target, const KeSettings& settings, Deadline deadline,
              KeOutcome* outcome) {
    std::string& error = outcome->error;
    platform::SocketAddress address = target.address;
    if (address.length == 0 && !platform::ResolveDatagramAddress(target.host.c_str(), target.port,
                                                                 settings.family, &address)) {
        error =
            "cannot resolve " + target.host + ": " + platform::ErrorReason(platform::LastError());
        return false;
    }
    const DWORD left = MillisecondsUntil(deadline);
    platform::StreamSocket socket;
    if (left == 0 || !socket.Connect(address, left)) {
        error = left == 0 || platform::LastError() == WSAETIMEDOUT
                    ? kConnectTimedOut
                    : "cannot connect to " + platform::AddressText(address) + " port " +
                          std::to_string(target.port) + ": " +
                          platform::ErrorReason(platform::LastError());
        return false;
    }

    TlsChannel tls(&socket);
    tls.JudgeCertificateTime(settings.certificateTime);
    const std::vector<std::uint8_t> request = BuildKeRequest();
    if (!tls.Handshake(target.host, settings.caFile, deadline, &error) ||
        !tls.Write(request.data(), request.size(), deadline, &error)) {
        return false;
    }
    KeResponseParser parser;
    std::vector<std::uint8_t> buffer(4096);  // the response's plaintext: cookies
    while (parser.State() == KeResponseParser::Progress::kMore) {
        const int got = tls.Read(buffer.data(), buffer.size(), deadline, &error);
        if (got < 0) {
            break;
        }
        if (got == 0) {
            parser.EndOfStream();
        } else {
            parser.Feed(buffer.data(), static_cast<std::size_t>(got));
        }
    }
    WipeBytes(&buffer);
    if (parser.State() == KeResponseParser::Progress::kMore) {
        return false;  // the read failed
    }
    if (parser.State() != KeResponseParser::Progress::kDone) {
        error = parser.FailureText();
        return false;
    }
    if (!tls.ExportKeys(&outcome->keys, &error)) {
        return false;
    }
    outcome->response = parser.Response();
    outcome->certificate = tls.Window();
    return true;
}

}  // namespace

KeOutcome::~KeOutcome() {
    WipeCookies(&response.cookies);
}

KeOutcome RunKeyExchange(const KeTarget& target, const KeSettings& settings, Deadline deadline) {
    const auto start = std::chrono::steady_clock::now();
    KeOutcome outcome;
    outcome.ok = Exchange(target, settings, deadline, &outcome);
    if (!outcome.ok) {
        outcome.keys = NtsKeys{};
        WipeCookies(&outcome.response.cookies);
        outcome.response = KeResponse{};
    }
    outcome.elapsed = std::chrono::steady_clock::now() - start;
    return outcome;
}

std::vector<KeOutcome> RunKeyExchanges(const std::vector<KeTarget>& targets,
                                       const KeSettings& settings, Deadline deadline) {
    std::vector<KeOutcome> outcomes(targets.size());
    // Once, before the threads: the exchanges share Mbed TLS's PSA core.
    if (psa_crypto_init() != PSA_SUCCESS) {
        for (KeOutcome& outcome : outcomes) {
            outcome.error = "cannot start Mbed TLS's cryptography";
        }
        return outcomes;
    }
    {
        Joined threads;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            threads.Start([&, i] { outcomes[i] = RunKeyExchange(targets[i], settings, deadline); });
        }
    }
    return outcomes;
}

}  // namespace nts
