// The Application event log: ReportEventW under the source Quillon, and the source's
// registry key that leads Event Viewer to the message table in this executable.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/system_log.h"
#include "quillon_events.h"

namespace {

const wchar_t kSourceName[] = L"Quillon";
const wchar_t kSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Quillon";
constexpr DWORD kAllTypesSupported =
    EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;  // 7

// Event Viewer shows an id's low 16 bits: they must be the ids the README names.
static_assert((QUILLON_EVENT_AGREED & 0xFFFF) == static_cast<DWORD>(RunEventId::kAgreed), "");
static_assert((QUILLON_EVENT_CLOCK_SET & 0xFFFF) == static_cast<DWORD>(RunEventId::kClockSet), "");
static_assert((QUILLON_EVENT_SET_REFUSED & 0xFFFF) == static_cast<DWORD>(RunEventId::kSetRefused),
              "");
static_assert((QUILLON_EVENT_NO_RESULT & 0xFFFF) == static_cast<DWORD>(RunEventId::kNoResult), "");
static_assert((QUILLON_EVENT_SET_FAILED & 0xFFFF) == static_cast<DWORD>(RunEventId::kSetFailed),
              "");

DWORD MessageId(RunEventId id) {
    switch (id) {
        case RunEventId::kAgreed:
            return QUILLON_EVENT_AGREED;
        case RunEventId::kClockSet:
            return QUILLON_EVENT_CLOCK_SET;
        case RunEventId::kSetRefused:
            return QUILLON_EVENT_SET_REFUSED;
        case RunEventId::kSetFailed:
            return QUILLON_EVENT_SET_FAILED;
        case RunEventId::kNoResult:
            break;
    }
    return QUILLON_EVENT_NO_RESULT;
}

WORD EventType(EventLevel level) {
    switch (level) {
        case EventLevel::kInformation:
            return EVENTLOG_INFORMATION_TYPE;
        case EventLevel::kWarning:
            return EVENTLOG_WARNING_TYPE;
        case EventLevel::kError:
            break;
    }
    return EVENTLOG_ERROR_TYPE;
}

// The lines with CRLF ends, as Event Viewer shows them, without the last one's.
std::wstring EventText(const std::string& text) {
    std::string lines;
    for (const char c : text) {
        if (c == '\n') {
            lines += '\r';
        }
        lines += c;
    }
    while (!lines.empty() && (lines.back() == '\n' || lines.back() == '\r')) {
        lines.pop_back();
    }
    const int size = static_cast<int>(lines.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, lines.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, lines.data(), size, &wide[0], length);
    return wide;
}

class EventSource {
public:
    EventSource() : handle_(::RegisterEventSourceW(nullptr, kSourceName)) {}
    ~EventSource() {
        if (handle_ != nullptr) {
            ::DeregisterEventSource(handle_);
        }
    }
    EventSource(const EventSource&) = delete;
    EventSource& operator=(const EventSource&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() {
        if (key_ != nullptr) {
            ::RegCloseKey(key_);
        }
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY* put() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

std::string CodeText(DWORD code) {
    std::string text = "last-error code " + std::to_string(code);
    if (code == ERROR_ACCESS_DENIED) {
        text = "access denied: run as administrator (" + text + ")";
    }
    return text;
}

// This executable's full path (long paths too); empty when it cannot be told.
std::wstring ModulePath() {
    std::vector<wchar_t> path(MAX_PATH);
    while (path.size() <= 32768) {
        const DWORD size = static_cast<DWORD>(path.size());
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), size);
        if (length == 0) {
            break;
        }
        if (length < size) {
            return std::wstring(path.data(), length);
        }
        path.resize(path.size() * 2);
    }
    return std::wstring();
}

std::string Narrow(const std::wstring& wide) {
    const int size = static_cast<int>(wide.size());
    const int length =
        ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, &text[0], length, nullptr, nullptr);
    return text;
}

LSTATUS WriteSourceKey(const std::wstring& messageFile) {
    RegistryKey key;
    LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, 0, KEY_SET_VALUE,
                                       nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    status = ::RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(messageFile.c_str()),
                              static_cast<DWORD>((messageFile.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const DWORD types = kAllTypesSupported;
    return ::RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&types), sizeof types);
}

}  // namespace

bool WriteSystemLog(const RunEvent& event, std::string* failure) {
    // Without the registry key the event is still written; Event Viewer then shows the text
    // beside a note that the description was not found.
    const EventSource source;
    if (source.get() == nullptr) {
        *failure = "the Event Log cannot be opened (" + CodeText(::GetLastError()) + ")";
        return false;
    }
    const std::wstring text = EventText(event.text);
    const wchar_t* strings[] = {text.c_str()};
    if (!::ReportEventW(source.get(), EventType(event.level), 0, MessageId(event.id), nullptr, 1, 0,
                        strings, nullptr)) {
        *failure = "the event cannot be written (" + CodeText(::GetLastError()) + ")";
        return false;
    }
    return true;
}

int ChangeEventSource(EventSourceChange change) {
    if (change == EventSourceChange::kUnregister) {
        const LSTATUS status = ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSourceKey);
        if (status == ERROR_FILE_NOT_FOUND) {
            std::puts("event source Quillon was not registered");
            return 0;
        }
        if (status != ERROR_SUCCESS) {
            std::fprintf(stderr, "quillon-query: the event source cannot be removed (%s)\n",
                         CodeText(static_cast<DWORD>(status)).c_str());
            return 1;
        }
        std::puts("event source Quillon removed");
        return 0;
    }
    const std::wstring path = ModulePath();
    const LSTATUS status =
        path.empty() ? static_cast<LSTATUS>(::GetLastError()) : WriteSourceKey(path);
    if (status != ERROR_SUCCESS) {
        std::fprintf(stderr, "quillon-query: the event source cannot be registered (%s)\n",
                     CodeText(static_cast<DWORD>(status)).c_str());
        return 1;
    }
    std::printf("event source Quillon registered: its messages are in %s\n", Narrow(path).c_str());
    return 0;
}
