// quillon-auto: drives the Quillon window from another process for the window tests.
//
//   quillon-auto COMMAND [ARGS...]   run one command
//   quillon-auto serve               read one command per line on stdin; after each command's
//                                    output comes a line "." (done) or "! reason" (failed)
//
// Every text is printed on one line, escaped: \\ \r \n \t and \uXXXX for anything outside
// printable ASCII (Python's "unicode_escape" reads it back). The last argument of a command
// that takes text is the rest of the line (or of the argument list), so it may hold blanks.
// Texts are read with the W functions: an ANSI window answers in UTF-16 across processes, and
// Wine's CB_GETLBTEXT sent with the A function returns UTF-16 into a char buffer anyway.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kDialogClass[] = L"#32770";
constexpr wchar_t kDialogCaption[] = L"Quillon";
// Long enough for the window to finish typing a line on its own thread (about 30 ms per
// character); a window that stays deaf for this long is hung.
constexpr UINT kSendTimeoutMs = 20000;

struct CommandError {
    std::string reason;
};

[[noreturn]] void Fail(const std::string& reason) {
    throw CommandError{reason};
}

// ---- small RAII owners --------------------------------------------------------------------

class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE h) : h_(h) {}
    ~OwnedHandle() {
        if (h_ != nullptr)
            CloseHandle(h_);
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

class OwnedRegion {
public:
    OwnedRegion() : h_(CreateRectRgn(0, 0, 0, 0)) {}
    ~OwnedRegion() { DeleteObject(h_); }
    OwnedRegion(const OwnedRegion&) = delete;
    OwnedRegion& operator=(const OwnedRegion&) = delete;
    HRGN get() const { return h_; }

private:
    HRGN h_;
};

class DisplayInfoContext {
public:
    DisplayInfoContext() : h_(CreateICW(L"DISPLAY", nullptr, nullptr, nullptr)) {}
    ~DisplayInfoContext() {
        if (h_ != nullptr)
            DeleteDC(h_);
    }
    DisplayInfoContext(const DisplayInfoContext&) = delete;
    DisplayInfoContext& operator=(const DisplayInfoContext&) = delete;
    HDC get() const { return h_; }

private:
    HDC h_;
};

// ---- text helpers ---------------------------------------------------------------------------

std::string Escape(const std::wstring& text) {
    std::string out;
    char buffer[8];
    for (wchar_t c : text) {
        if (c == L'\\') {
            out += "\\\\";
        } else if (c == L'\r') {
            out += "\\r";
        } else if (c == L'\n') {
            out += "\\n";
        } else if (c == L'\t') {
            out += "\\t";
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
            out += buffer;
        }
    }
    return out;
}

// The reverse of Escape for text given to set-text.
std::wstring Unescape(const std::string& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\' || i + 1 == text.size()) {
            out += static_cast<wchar_t>(static_cast<unsigned char>(c));
            continue;
        }
        char kind = text[++i];
        if (kind == 'r') {
            out += L'\r';
        } else if (kind == 'n') {
            out += L'\n';
        } else if (kind == 't') {
            out += L'\t';
        } else if (kind == 'u' && i + 4 < text.size()) {
            out += static_cast<wchar_t>(std::strtoul(text.substr(i + 1, 4).c_str(), nullptr, 16));
            i += 4;
        } else {
            out += static_cast<wchar_t>(static_cast<unsigned char>(kind));
        }
    }
    return out;
}

double MillisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER StartStopwatch() {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    return start;
}

// ---- arguments -----------------------------------------------------------------------------

class Arguments {
public:
    // words: the blank-separated words after the command name. raw_line: in serve mode the
    // line after the command name exactly as read (blank runs kept); empty otherwise.
    Arguments(std::vector<std::string> words, bool from_line, std::string raw_line)
        : words_(std::move(words)), from_line_(from_line), raw_(std::move(raw_line)) {}

    bool Has(size_t index) const { return index < words_.size(); }
    int Int(size_t index, int fallback) const {
        if (!Has(index))
            return fallback;
        char* end = nullptr;
        long value = std::strtol(words_[index].c_str(), &end, 0);
        if (end == words_[index].c_str() || *end != '\0')
            Fail("not a number: " + words_[index]);
        return static_cast<int>(value);
    }
    int RequiredInt(size_t index) const {
        if (!Has(index))
            Fail("missing argument");
        return Int(index, 0);
    }
    // The text after word index - 1 and the one blank that follows it, to the end: it may
    // hold blanks of its own, also leading or trailing ones, or be empty.
    std::string Rest(size_t index) const {
        if (!from_line_) {
            std::string joined;
            for (size_t i = index; i < words_.size(); ++i) {
                joined += (i > index ? " " : "") + words_[i];
            }
            return joined;
        }
        size_t pos = 0;  // raw_ starts with the blank after the command name
        for (size_t skipped = 0; skipped < index; ++skipped) {
            pos = raw_.find_first_not_of(' ', pos);
            if (pos != std::string::npos)
                pos = raw_.find(' ', pos);
            if (pos == std::string::npos)
                return "";
        }
        return pos + 1 < raw_.size() ? raw_.substr(pos + 1) : "";
    }

private:
    std::vector<std::string> words_;
    bool from_line_;
    std::string raw_;
};

// ---- finding windows ------------------------------------------------------------------------

HWND FindDialog() {
    HWND dialog = FindWindowW(kDialogClass, kDialogCaption);
    if (dialog == nullptr || !IsWindowVisible(dialog))
        Fail("no visible Quillon window");
    return dialog;
}

HWND Control(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr)
        Fail("no control " + std::to_string(id));
    return control;
}

LRESULT Send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wparam, lparam, SMTO_NORMAL, kSendTimeoutMs,
                             &result)) {
        Fail("window did not answer message " + std::to_string(message));
    }
    return static_cast<LRESULT>(result);
}

std::wstring WindowText(HWND window) {
    LRESULT length = Send(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT copied = Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(copied));
    return text;
}

HWND FindTopLevel(const std::wstring& caption, int timeout_ms) {
    LARGE_INTEGER start = StartStopwatch();
    for (;;) {
        HWND window = FindWindowW(kDialogClass, caption.c_str());
        if (window != nullptr && IsWindowVisible(window))
            return window;
        if (MillisecondsSince(start) > timeout_ms)
            Fail("no window captioned the given text");
        Sleep(20);
    }
}

// ---- commands -------------------------------------------------------------------------------

using Command = void (*)(const Arguments&);

void WaitWindow(const Arguments& args) {
    int timeout_ms = args.Int(0, 10000);
    LARGE_INTEGER start = StartStopwatch();
    HWND dialog = FindTopLevel(kDialogCaption, timeout_ms);
    std::printf("found %p after %.0f ms\n", static_cast<void*>(dialog), MillisecondsSince(start));
}

void WaitGone(const Arguments& args) {
    int timeout_ms = args.Int(0, 10000);
    LARGE_INTEGER start = StartStopwatch();
    while (FindWindowW(kDialogClass, kDialogCaption) != nullptr) {
        if (MillisecondsSince(start) > timeout_ms)
            Fail("window still there");
        Sleep(10);
    }
    std::printf("gone after %.0f ms\n", MillisecondsSince(start));
}

void Caption(const Arguments&) {
    std::printf("%s\n", Escape(WindowText(FindDialog())).c_str());
}

void Text(const Arguments& args) {
    HWND control = Control(FindDialog(), args.RequiredInt(0));
    std::printf("%s\n", Escape(WindowText(control)).c_str());
}

void SetText(const Arguments& args) {
    HWND control = Control(FindDialog(), args.RequiredInt(0));
    std::wstring text = Unescape(args.Rest(1));
    if (!Send(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()))) {
        Fail("WM_SETTEXT refused");
    }
}

void ComboList(const Arguments& args) {
    HWND combo = Control(FindDialog(), args.Int(0, 1004));
    LRESULT count = Send(combo, CB_GETCOUNT, 0, 0);
    std::printf("count %ld selected %ld\n", static_cast<long>(count),
                static_cast<long>(Send(combo, CB_GETCURSEL, 0, 0)));
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = Send(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring item(static_cast<size_t>(length) + 1, L'\0');
        LRESULT copied =
            Send(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item[0]));
        item.resize(copied < 0 ? 0 : static_cast<size_t>(copied));
        std::printf("item %s\n", Escape(item).c_str());
    }
}

// BM_CLICK is sent, so this returns only when the dialog's handler has finished; the time it
// took is printed (a handler that types on the window's own thread takes that long).
void Click(const Arguments& args) {
    HWND button = Control(FindDialog(), args.RequiredInt(0));
    LARGE_INTEGER start = StartStopwatch();
    Send(button, BM_CLICK, 0, 0);
    std::printf("handled after %.0f ms\n", MillisecondsSince(start));
}

// Posts the button's click notification and returns at once.
void PostClick(const Arguments& args) {
    HWND dialog = FindDialog();
    int id = args.RequiredInt(0);
    HWND button = Control(dialog, id);
    if (!PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(button))) {
        Fail("PostMessage failed");
    }
}

void ControlRect(const Arguments& args) {
    HWND dialog = FindDialog();
    HWND control = Control(dialog, args.RequiredInt(0));
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                rect.bottom - rect.top);
}

// Client size, then the client origin on the screen.
void ClientRect(const Arguments&) {
    HWND dialog = FindDialog();
    RECT rect;
    GetClientRect(dialog, &rect);
    POINT origin{0, 0};
    ClientToScreen(dialog, &origin);
    std::printf("%ld %ld %ld %ld\n", rect.right, rect.bottom, origin.x, origin.y);
}

void WindowRect(const Arguments&) {
    RECT rect;
    GetWindowRect(FindDialog(), &rect);
    std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
}

// The window region's bounding box in window coordinates, and how many rectangles it holds.
void WindowRegion(const Arguments&) {
    OwnedRegion region;
    int kind = GetWindowRgn(FindDialog(), region.get());
    if (kind == ERROR)
        Fail("the window has no region");
    RECT box;
    GetRgnBox(region.get(), &box);
    DWORD size = GetRegionData(region.get(), 0, nullptr);
    std::vector<char> data(size);
    auto* header = reinterpret_cast<RGNDATA*>(data.data());
    GetRegionData(region.get(), size, header);
    std::printf("%ld %ld %ld %ld rects %lu\n", box.left, box.top, box.right, box.bottom,
                header->rdh.nCount);
}

void Metrics(const Arguments&) {
    std::printf("%d %d %d\n", GetSystemMetrics(SM_CXDLGFRAME), GetSystemMetrics(SM_CYDLGFRAME),
                GetSystemMetrics(SM_CYCAPTION));
}

void Display(const Arguments&) {
    DisplayInfoContext ic;
    std::printf("%d %d %d\n", GetDeviceCaps(ic.get(), LOGPIXELSX),
                GetDeviceCaps(ic.get(), LOGPIXELSY), GetDeviceCaps(ic.get(), BITSPIXEL));
}

void WaitText(const Arguments& args) {
    HWND control = Control(FindDialog(), args.RequiredInt(0));
    int timeout_ms = args.RequiredInt(1);
    std::wstring wanted = Unescape(args.Rest(2));
    LARGE_INTEGER start = StartStopwatch();
    for (;;) {
        std::wstring text = WindowText(control);
        if (text.find(wanted) != std::wstring::npos) {
            std::printf("after %.0f ms %s\n", MillisecondsSince(start), Escape(text).c_str());
            return;
        }
        if (MillisecondsSince(start) > timeout_ms)
            Fail("text not seen: " + Escape(text));
        Sleep(5);
    }
}

// Polls a control's text until it holds the wanted text; prints every change with the time
// it was first seen, so that the tests can check the typing pace.
void WatchText(const Arguments& args) {
    HWND control = Control(FindDialog(), args.RequiredInt(0));
    int timeout_ms = args.RequiredInt(1);
    std::wstring wanted = Unescape(args.Rest(2));
    LARGE_INTEGER start = StartStopwatch();
    std::wstring last;
    bool first = true;
    for (;;) {
        std::wstring text = WindowText(control);
        double at = MillisecondsSince(start);
        if (first || text != last) {
            std::printf("change %.1f %s\n", at, Escape(text).c_str());
            last = text;
            first = false;
        }
        if (text.find(wanted) != std::wstring::npos)
            return;
        if (at > timeout_ms)
            Fail("text not seen");
        Sleep(1);
    }
}

// Round trips of WM_NULL through the window's message loop.
void Ping(const Arguments& args) {
    HWND dialog = FindDialog();
    int count = args.Int(0, 10);
    int interval_ms = args.Int(1, 100);
    double worst = 0;
    for (int i = 0; i < count; ++i) {
        LARGE_INTEGER start = StartStopwatch();
        DWORD_PTR ignored;
        if (!SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored)) {
            Fail("no answer within 5000 ms");
        }
        double took = MillisecondsSince(start);
        if (took > worst)
            worst = took;
        std::printf("ping %.2f\n", took);
        Sleep(static_cast<DWORD>(interval_ms));
    }
    std::printf("max %.2f\n", worst);
}

void GuiResources(const Arguments&) {
    DWORD pid = 0;
    GetWindowThreadProcessId(FindDialog(), &pid);
    OwnedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
    if (process.get() == nullptr)
        Fail("cannot open the window's process");
    DWORD handles = 0;
    GetProcessHandleCount(process.get(), &handles);
    std::printf("gdi %lu user %lu handles %lu\n", GetGuiResources(process.get(), GR_GDIOBJECTS),
                GetGuiResources(process.get(), GR_USEROBJECTS), handles);
}

void Close(const Arguments& args) {
    HWND dialog = FindDialog();
    std::string how = args.Has(0) ? args.Rest(0) : "wm";
    BOOL posted = how == "sc" ? PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0)
                              : PostMessageW(dialog, WM_CLOSE, 0, 0);
    if (!posted)
        Fail("PostMessage failed");
}

// The text of a message box: its static control 0xFFFF (Wine and Windows alike).
void FindMessageBox(const Arguments& args) {
    int timeout_ms = args.RequiredInt(0);
    HWND box = FindTopLevel(Unescape(args.Rest(1)), timeout_ms);
    HWND text = GetDlgItem(box, 0xFFFF);
    if (text == nullptr)
        Fail("the box has no text control");
    std::printf("%s\n", Escape(WindowText(text)).c_str());
}

void CloseMessageBox(const Arguments& args) {
    HWND box = FindTopLevel(Unescape(args.Rest(0)), 0);
    if (!PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                      reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)))) {
        Fail("PostMessage failed");
    }
}

// Every visible dialog-class top-level window with its caption: no stray message boxes.
void Dialogs(const Arguments&) {
    EnumWindows(
        [](HWND window, LPARAM) -> BOOL {
            wchar_t class_name[64];
            GetClassNameW(window, class_name, 64);
            if (IsWindowVisible(window) && std::wcscmp(class_name, kDialogClass) == 0) {
                std::printf("dialog %s\n", Escape(WindowText(window)).c_str());
            }
            return TRUE;
        },
        0);
}

GUITHREADINFO WindowThreadInfo() {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(FindDialog(), nullptr), &info)) {
        Fail("GetGUIThreadInfo failed");
    }
    return info;
}

// The id of the control holding the keyboard focus in the window's thread (0 for none).
void Focus(const Arguments&) {
    GUITHREADINFO info = WindowThreadInfo();
    int id = info.hwndFocus == nullptr ? 0 : GetDlgCtrlID(info.hwndFocus);
    std::printf("%d\n", id);
}

// 1 while the window's thread runs the system's move loop (a drag under way), else 0.
void MoveSize(const Arguments&) {
    std::printf("%d\n", (WindowThreadInfo().flags & GUI_INMOVESIZE) != 0 ? 1 : 0);
}

void Pid(const Arguments&) {
    DWORD pid = 0;
    GetWindowThreadProcessId(FindDialog(), &pid);
    std::printf("%lu\n", pid);
}

struct CommandEntry {
    const char* name;
    Command run;
    const char* usage;
};

const CommandEntry kCommands[] = {
    {"wait-window", WaitWindow, "[TIMEOUT_MS]"},
    {"wait-gone", WaitGone, "[TIMEOUT_MS]"},
    {"caption", Caption, ""},
    {"text", Text, "ID"},
    {"set-text", SetText, "ID TEXT"},
    {"combo-list", ComboList, "[ID]"},
    {"click", Click, "ID"},
    {"post-click", PostClick, "ID"},
    {"control-rect", ControlRect, "ID  -> x y width height (client coordinates)"},
    {"client-rect", ClientRect, " -> width height screen-x screen-y"},
    {"window-rect", WindowRect, " -> left top right bottom (screen)"},
    {"window-region", WindowRegion, " -> left top right bottom rects N (window coordinates)"},
    {"metrics", Metrics, " -> SM_CXDLGFRAME SM_CYDLGFRAME SM_CYCAPTION"},
    {"display", Display, " -> LOGPIXELSX LOGPIXELSY BITSPIXEL"},
    {"wait-text", WaitText, "ID TIMEOUT_MS TEXT"},
    {"watch-text", WatchText, "ID TIMEOUT_MS TEXT"},
    {"ping", Ping, "[COUNT] [INTERVAL_MS]"},
    {"guiresources", GuiResources, ""},
    {"close", Close, "[wm|sc]"},
    {"find-messagebox", FindMessageBox, "TIMEOUT_MS CAPTION"},
    {"close-messagebox", CloseMessageBox, "CAPTION"},
    {"dialogs", Dialogs, ""},
    {"focus", Focus, ""},
    {"move-size", MoveSize, " -> 1 during a drag"},
    {"pid", Pid, ""},
};

const CommandEntry* Lookup(const std::string& name) {
    for (const CommandEntry& entry : kCommands) {
        if (name == entry.name)
            return &entry;
    }
    return nullptr;
}

void PrintUsage() {
    std::fprintf(stderr, "usage: quillon-auto COMMAND [ARGS]  |  quillon-auto serve\n");
    for (const CommandEntry& entry : kCommands) {
        std::fprintf(stderr, "  %s %s\n", entry.name, entry.usage);
    }
}

// Runs one command; false when it failed (the reason goes to `reason`).
bool Run(const CommandEntry& entry, const Arguments& args, std::string* reason) {
    try {
        entry.run(args);
        return true;
    } catch (const CommandError& error) {
        *reason = error.reason;
        return false;
    }
}

int Serve() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        std::istringstream words_in(line);
        std::string name, word;
        words_in >> name;
        std::vector<std::string> words;
        while (words_in >> word)
            words.push_back(word);
        std::string raw = line.substr(line.find(name) + name.size());

        const CommandEntry* entry = Lookup(name);
        std::string reason = "unknown command " + name;
        bool ok = entry != nullptr && Run(*entry, Arguments(words, true, raw), &reason);
        std::printf(ok ? ".\n" : "! %s\n", reason.c_str());
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // "\n" line ends whatever the reader
    if (argc >= 2 && std::string(argv[1]) == "serve")
        return Serve();
    const CommandEntry* entry = argc >= 2 ? Lookup(argv[1]) : nullptr;
    if (entry == nullptr) {
        PrintUsage();
        return 2;
    }
    std::vector<std::string> words(argv + 2, argv + argc);
    std::string reason;
    if (!Run(*entry, Arguments(words, false, ""), &reason)) {
        std::fprintf(stderr, "quillon-auto %s: %s\n", entry->name, reason.c_str());
        return 1;
    }
    return 0;
}
