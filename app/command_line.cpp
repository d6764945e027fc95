#include "app/command_line.h"

#include <cctype>

namespace {

// The white space that trimming removes: blank, tab, CR, LF, vertical tab, form feed.
bool IsWhiteSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

std::string TrimLeft(const std::string& text) {
    size_t start = 0;
    while (start < text.size() && IsWhiteSpace(text[start])) {
        ++start;
    }
    return text.substr(start);
}

std::string TrimRight(const std::string& text) {
    size_t end = text.size();
    while (end > 0 && IsWhiteSpace(text[end - 1])) {
        --end;
    }
    return text.substr(0, end);
}

bool ContainsWhiteSpace(const std::string& text) {
    for (char c : text) {
        if (IsWhiteSpace(c)) {
            return true;
        }
    }
    return false;
}

// The text after the first occurrence of c, or all of it when c does not occur.
std::string After(const std::string& text, char c) {
    const size_t at = text.find(c);
    return at == std::string::npos ? text : text.substr(at + 1);
}

std::string ToUpper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

CommandLineRequest ParseCommandLine(const std::string& commandLine) {
    CommandLineRequest request;
    const size_t exe = commandLine.find(".exe");
    if (exe == std::string::npos) {
        return request;
    }
    std::string text = commandLine.substr(exe + 4);
    // Steps over the closing quote of a quoted program path.
    text = After(text, '"');
    // Now at the first argument.
    text = TrimLeft(After(text, ' '));

    const size_t blank = text.find(' ');
    if (blank == std::string::npos) {
        // A lone argument is the server, unless it is a run of words split by other white
        // space, which is no host name.
        const std::string lone = TrimRight(text);
        if (!lone.empty() && !ContainsWhiteSpace(lone)) {
            request.server = lone;
            request.mode = "N";
            return request;
        }
    } else {
        request.server = text.substr(0, blank);
    }

    const std::string mode = ToUpper(TrimLeft(After(text, ' ')));
    request.mode = mode.empty() ? "N" : mode;
    return request;
}
