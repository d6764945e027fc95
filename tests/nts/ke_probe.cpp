// Test driver of the key exchange: runs RunKeyExchanges for the servers given and prints one
// line each, in their order:
//   HOST PORT ok ELAPSED c2s=HEX s2c=HEX cookies=N cookie-bytes=N server=NAME port=N
//   HOST PORT failed ELAPSED: WHY
// (server "-" and port 0 when the response named none). With --ntp, each success line ends
// with " ntp=VERDICT new-cookies=N": one NTS request with the first cookie to the NTP server
// the response names, and how its answer was judged with the exported keys (authentic,
// nak, not-ours, unauthentic, malformed, or none). Exit status 0 when every exchange (and
// answer) succeeded, 1 when one failed, 2 on a usage error.
//
// Usage: ke_probe [--ca FILE] [--timeout SECONDS] [-4|-6] [--ntp] HOST[:PORT]...
//   (an IPv6 literal with a port in brackets: [::1]:4460)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/udp_socket.h"
#include "nts/key_exchange.h"
#include "nts/nts_fields.h"
#include "platform/platform.h"

namespace {

std::string Hex(const std::uint8_t* bytes, std::size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

bool ParseTarget(const std::string& text, nts::KeTarget* target) {
    std::string host = text;
    std::string port;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos) {
            return false;
        }
        host = text.substr(0, close + 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':') {
                return false;
            }
            port = text.substr(close + 2);
        }
    } else if (text.find(':') == text.rfind(':') && text.find(':') != std::string::npos) {
        host = text.substr(0, text.find(':'));
        port = text.substr(text.find(':') + 1);
    }
    target->host = host;
    if (!port.empty()) {
        char* end = nullptr;
        const long value = std::strtol(port.c_str(), &end, 10);
        if (*end != '\0' || value < 1 || value > 65535) {
            return false;
        }
        target->port = static_cast<int>(value);
    }
    return !host.empty();
}

const char* VerdictName(nts::NtsAnswer verdict) {
    switch (verdict) {
        case nts::NtsAnswer::kAuthentic:
            return "authentic";
        case nts::NtsAnswer::kNak:
            return "nak";
        case nts::NtsAnswer::kNotOurs:
            return "not-ours";
        case nts::NtsAnswer::kUnauthentic:
            return "unauthentic";
        case nts::NtsAnswer::kMalformed:
            return "malformed";
    }
    return "?";
}

// One NTS request with the exchange's first cookie to the NTP server it names (or the key
// exchange's host, port 123), and the verdict on the first answer; "none" when nothing came
// by the deadline. *newCookies: how many cookies an authentic answer brought.
const char* AskNtp(const nts::KeTarget& target, const nts::KeOutcome& outcome,
                   platform::AddressFamily family, Deadline deadline, std::size_t* newCookies) {
    const nts::KeResponse& response = outcome.response;
    const std::string host = response.server.empty() ? target.host : response.server;
    platform::SocketAddress address;
    UdpSocket socket;
    std::uint8_t uniqueId[32];
    std::uint32_t nonce[2];
    std::vector<std::uint8_t> request;
    if (!platform::ResolveDatagramAddress(host.c_str(), response.port != 0 ? response.port : 123,
                                          family, &address) ||
        !socket.CreateConnected(address) || !platform::RandomBytes(uniqueId, sizeof uniqueId) ||
        !platform::RandomBytes(nonce, sizeof nonce) ||
        !nts::BuildNtsRequest(NtpTimestamp::FromParts(nonce[0], nonce[1]), uniqueId,
                              response.cookies.front(), 0, outcome.keys, &request) ||
        !socket.Send(request.data(), static_cast<int>(request.size()))) {
        return "unsent";
    }
    BOOL readable = FALSE;
    if (!socket.WaitReadable(&readable, MillisecondsUntil(deadline)) || !readable) {
        return "none";
    }
    std::uint8_t answer[2048];
    const int got = socket.Receive(answer, sizeof answer);
    if (got <= 0) {
        return "none";
    }
    std::vector<std::vector<std::uint8_t>> cookies;
    const nts::NtsAnswer verdict = nts::CheckNtsAnswer(answer, static_cast<std::size_t>(got),
                                                       uniqueId, outcome.keys, &cookies);
    *newCookies = cookies.size();
    return VerdictName(verdict);
}

int Usage() {
    std::fprintf(
        stderr, "usage: ke_probe [--ca FILE] [--timeout SECONDS] [-4|-6] [--ntp] HOST[:PORT]...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    nts::KeSettings settings;
    double timeout = 5;
    bool askNtp = false;
    std::vector<nts::KeTarget> targets;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--ca" && i + 1 < argc) {
            settings.caFile = argv[++i];
        } else if (arg == "--timeout" && i + 1 < argc) {
            timeout = std::atof(argv[++i]);
        } else if (arg == "--ntp") {
            askNtp = true;
        } else if (arg == "-4" || arg == "-6") {
            settings.family =
                arg == "-4" ? platform::AddressFamily::kIPv4 : platform::AddressFamily::kIPv6;
        } else {
            nts::KeTarget target;
            if (arg.empty() || arg[0] == '-' || !ParseTarget(arg, &target)) {
                return Usage();
            }
            targets.push_back(target);
        }
    }
    if (targets.empty() || timeout <= 0) {
        return Usage();
    }
#ifdef _WIN32
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        std::fprintf(stderr, "ke_probe: Winsock did not start\n");
        return 1;
    }
#endif
    const Deadline deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(timeout));
    const std::vector<nts::KeOutcome> outcomes = nts::RunKeyExchanges(targets, settings, deadline);
    int status = 0;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const nts::KeOutcome& outcome = outcomes[i];
        const double elapsed = std::chrono::duration<double>(outcome.elapsed).count();
        std::printf("%s %d %s %.3f", targets[i].host.c_str(), targets[i].port,
                    outcome.ok ? "ok" : "failed", elapsed);
        if (!outcome.ok) {
            std::printf(": %s\n", outcome.error.c_str());
            status = 1;
            continue;
        }
        const nts::KeResponse& response = outcome.response;
        std::printf(" c2s=%s s2c=%s cookies=%zu cookie-bytes=%zu server=%s port=%d",
                    Hex(outcome.keys.clientToServer, 32).c_str(),
                    Hex(outcome.keys.serverToClient, 32).c_str(), response.cookies.size(),
                    response.cookies.front().size(),
                    response.server.empty() ? "-" : response.server.c_str(), response.port);
        if (askNtp) {
            std::size_t newCookies = 0;
            const std::string verdict =
                AskNtp(targets[i], outcome, settings.family, deadline, &newCookies);
            std::printf(" ntp=%s new-cookies=%zu", verdict.c_str(), newCookies);
            status = verdict == "authentic" ? status : 1;
        }
        std::printf("\n");
    }
#ifdef _WIN32
    ::WSACleanup();
#endif
    return status;
}
