// The server list file: any bytes a user's url\time.txt may hold.
//
// Checks the entries' shape (one line each, no comment, no trailing white space), that a
// ^Z ends the text, that CR LF and LF read alike, and that reading the bytes from a file
// gives the same entries as parsing them.
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/server_list.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// One scratch file for the whole run, removed at exit.
class ScratchFile {
public:
    ScratchFile() {
        // Memory-backed where there is such a folder: one write and read per input.
        const char* folder = std::getenv("TMPDIR");
        if (folder == nullptr || *folder == '\0') {
            folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        }
        m_path = std::string(folder) + "/quillon-fuzz-list.XXXXXX";
        const int fd = mkstemp(&m_path[0]);
        FUZZ_CHECK(fd >= 0);
        close(fd);
    }
    ~ScratchFile() { std::remove(m_path.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& Write(const std::string& bytes) {
        std::FILE* file = std::fopen(m_path.c_str(), "wb");
        FUZZ_CHECK(file != nullptr);
        FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
        FUZZ_CHECK(std::fclose(file) == 0);
        return m_path;
    }

private:
    std::string m_path;
};

std::string CrLfToLf(const std::string& bytes) {
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            continue;
        }
        out += bytes[i];
    }
    return out;
}

void CheckEntries(const std::string& text, const std::vector<std::string>& entries) {
    size_t lineFeeds = 0;
    for (char c : text) {
        lineFeeds += c == '\n' ? 1 : 0;
    }
    FUZZ_CHECK(entries.size() <= lineFeeds + 1);
    for (const std::string& entry : entries) {
        FUZZ_CHECK(entry.find('\n') == std::string::npos);
        FUZZ_CHECK(entry.find('\0') == std::string::npos);
        FUZZ_CHECK(entry.find('\x1A') == std::string::npos);
        FUZZ_CHECK(entry.empty() || entry[0] != '#');
        FUZZ_CHECK(entry.empty() || std::isspace(static_cast<unsigned char>(entry.back())) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    static ScratchFile scratch;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> entries = ParseServerList(bytes);
    CheckEntries(bytes.substr(0, bytes.find('\x1A')), entries);

    // Nothing after the end-of-file mark counts.
    const size_t mark = bytes.find('\x1A');
    if (mark != std::string::npos) {
        FUZZ_CHECK(ParseServerList(bytes.substr(0, mark)) == entries);
    }
    // A text-mode read: CR LF is a line end like LF.
    FUZZ_CHECK(ParseServerList(CrLfToLf(bytes)) == entries);

    std::vector<std::string> read = {"left alone unless the read succeeds"};
    FUZZ_CHECK(ReadServerList(scratch.Write(bytes), &read));
    FUZZ_CHECK(read == entries);
    return 0;
}
