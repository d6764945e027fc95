#include "app/server_list.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/platform.h"

namespace {

constexpr char kEndOfFileMark = '\x1A';

std::string TrimRight(const std::string& text) {
    size_t end = text.size();
    while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1])) != 0) {
        --end;
    }
    return text.substr(0, end);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The platform's reason for a failed C library call, as a last-error code.
DWORD FileErrorCode() {
#ifdef _WIN32
    return static_cast<DWORD>(::GetLastError());
#else
    return static_cast<DWORD>(errno);
#endif
}

// Whether path names a regular file; FALSE with the reason as last error when it cannot be
// looked at. Windows' plain stat has 32-bit sizes and fails on a file above 2 GiB.
BOOL StatRegularFile(const std::string& path, bool* regular) {
#ifdef _WIN32
    struct _stat64 status {};
    if (_stat64(path.c_str(), &status) != 0) {
#else
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
#endif
        platform::SetLastError(FileErrorCode());
        return FALSE;
    }
    *regular = S_ISREG(status.st_mode);
    return TRUE;
}

}  // namespace

std::vector<std::string> ParseServerList(const std::string& bytes) {
    const std::string text = bytes.substr(0, bytes.find(kEndOfFileMark));
    std::vector<std::string> entries;
    size_t position = 0;
    for (size_t lines = 0; position < text.size() && lines < kServerListMaxLines; ++lines) {
        const size_t lineFeed = text.find('\n', position);
        const size_t end = lineFeed == std::string::npos ? text.size() : lineFeed;
        std::string line = text.substr(position, end - position);
        position = lineFeed == std::string::npos ? text.size() : lineFeed + 1;

        if (lineFeed != std::string::npos && !line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        line = line.substr(0, line.find('\0'));
        if (!line.empty() && line[0] == '#') {
            continue;
        }
        entries.push_back(TrimRight(line));
    }
    return entries;
}

BOOL ReadServerList(const std::string& path, std::vector<std::string>* entries) {
    // Only a regular file is a list: a device could be endless, and opening a pipe would
    // wait for a writer.
    bool regular = false;
    if (!StatRegularFile(path, &regular)) {
        return FALSE;
    }
    if (!regular) {
        platform::SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        platform::SetLastError(FileErrorCode());
        return FALSE;
    }
    // One byte beyond the bound tells whether the file goes on past it.
    std::string bytes(kServerListMaxBytes + 1, '\0');
    bytes.resize(std::fread(&bytes[0], 1, bytes.size(), file.get()));
    if (std::ferror(file.get()) != 0) {
        platform::SetLastError(FileErrorCode() != 0 ? FileErrorCode() : ERROR_INVALID_DATA);
        return FALSE;
    }
    if (bytes.size() > kServerListMaxBytes) {
        // The last line may be cut anywhere, even inside a name: drop it.
        bytes.resize(kServerListMaxBytes);
        const size_t lastLineFeed = bytes.rfind('\n');
        bytes.resize(lastLineFeed == std::string::npos ? 0 : lastLineFeed + 1);
    }
    *entries = ParseServerList(bytes);
    return TRUE;
}
