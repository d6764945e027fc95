// The command lines: the window program's (whole line after the program path) and the
// console front end's argument vector, in its classic and its --check form.
//
// Input: a selector byte, then either the command line (up to a NUL, which a process's
// command line cannot hold) or NUL-separated arguments.
#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "cli/check_options.h"
#include "cli/query_options.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool HasLowerCase(const std::string& text) {
    for (char c : text) {
        if (c >= 'a' && c <= 'z') {
            return true;
        }
    }
    return false;
}

void CheckWindowCommandLine(const std::string& line) {
    const CommandLineRequest request = ParseCommandLine(line);
    FUZZ_CHECK(request.StartsRun() == !request.server.empty());
    const size_t exe = line.find(".exe");
    if (exe == std::string::npos) {
        FUZZ_CHECK(request.server.empty() && request.mode.empty());
        return;
    }
    FUZZ_CHECK(!request.mode.empty());
    FUZZ_CHECK(!HasLowerCase(request.mode));
    FUZZ_CHECK(!IsWhiteSpace(request.mode[0]));
    if (request.server.empty()) {
        return;
    }
    FUZZ_CHECK(request.server.find(' ') == std::string::npos);
    FUZZ_CHECK(!IsWhiteSpace(request.server[0]));
    FUZZ_CHECK(line.find(request.server, exe + 4) != std::string::npos);

    // Written back as a plain command line, the request reads the same.
    if (request.server.find('"') == std::string::npos &&
        request.mode.find('"') == std::string::npos) {
        const CommandLineRequest again =
            ParseCommandLine("quillon.exe " + request.server + " " + request.mode);
        FUZZ_CHECK(again.server == request.server);
        FUZZ_CHECK(again.mode == request.mode);
    }
}

void CheckQueryArguments(const std::string& joined) {
    std::vector<std::string> words;
    size_t start = 0;
    while (start <= joined.size() && words.size() < 8) {
        const size_t end = joined.find('\0', start);
        words.push_back(joined.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    std::vector<const char*> argv = {"quillon-query"};
    for (const std::string& word : words) {
        argv.push_back(word.c_str());
    }
    const int argc = static_cast<int>(argv.size());
    std::string error;
    if (IsCheckCommand(argc, argv.data())) {
        CheckOptions options;
        if (!ParseCheckOptions(argc, argv.data(), &options, &error)) {
            FUZZ_CHECK(!error.empty());
            return;
        }
        const check::CheckSettings& s = options.settings;
        FUZZ_CHECK(!options.servers.empty() && options.servers.size() <= 16);
        FUZZ_CHECK(s.samples >= 1 && s.samples <= kCheckMaxSamples);
        FUZZ_CHECK(s.intervalSeconds >= 0.01 && s.timeoutSeconds > 0 && s.toleranceSeconds >= 0);
        FUZZ_CHECK(!options.plugin || options.warn <= options.crit);
        FUZZ_CHECK(!(options.plugin && options.json));
        // No more servers must agree than the names can stand for (a pool up to 4).
        FUZZ_CHECK(s.minAgree <= 4 * static_cast<int>(options.servers.size()));
        FUZZ_CHECK(options.timeLimitSeconds == 0 || options.timeLimitSeconds >= 0.01);
        return;
    }
    QueryOptions options;
    if (!ParseQueryOptions(argc, argv.data(), &options, &error)) {
        FUZZ_CHECK(!error.empty());
        return;
    }
    FUZZ_CHECK(!options.server.empty());
    FUZZ_CHECK(options.port >= 1 && options.port <= 65535);
    FUZZ_CHECK(!HasLowerCase(options.mode));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    if ((data[0] & 1) == 0) {
        CheckWindowCommandLine(rest.substr(0, rest.find('\0')));
    } else {
        CheckQueryArguments(rest);
    }
    return 0;
}
