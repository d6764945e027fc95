// Test driver of the key exchange: runs RunKeyExchanges for the servers given and prints one
// line each, in their order:
//   HOST PORT ok ELAPSED c2s=HEX s2c=HEX cookies=N cookie-bytes=N server=NAME port=N
//   HOST PORT failed ELAPSED: WHY
// (server "-" and port 0 when the response named none). Exit status 0 when every exchange
// succeeded, 1 when one failed, 2 on a usage error.
//
// Usage: ke_probe [--ca FILE] [--timeout SECONDS] [-4|-6] HOST[:PORT]...
//   (an IPv6 literal with a port in brackets: [::1]:4460)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "nts/key_exchange.h"

#ifdef _WIN32
#include <winsock2.h>
#endif

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

int Usage() {
    std::fprintf(stderr,
                 "usage: ke_probe [--ca FILE] [--timeout SECONDS] [-4|-6] HOST[:PORT]...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    nts::KeSettings settings;
    double timeout = 5;
    std::vector<nts::KeTarget> targets;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--ca" && i + 1 < argc) {
            settings.caFile = argv[++i];
        } else if (arg == "--timeout" && i + 1 < argc) {
            timeout = std::atof(argv[++i]);
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
        std::printf(" c2s=%s s2c=%s cookies=%zu cookie-bytes=%zu server=%s port=%d\n",
                    Hex(outcome.keys.clientToServer, 32).c_str(),
                    Hex(outcome.keys.serverToClient, 32).c_str(), response.cookies.size(),
                    response.cookies.front().size(),
                    response.server.empty() ? "-" : response.server.c_str(), response.port);
    }
#ifdef _WIN32
    ::WSACleanup();
#endif
    return status;
}
