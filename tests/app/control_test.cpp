// Subclassed controls: the object sees the control's messages first, calls from other
// threads run on the control's own thread, and the original procedure comes back when the
// object or the window goes away.
#include "winui/control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "winui/edit.h"

namespace {

class RecordingEdit : public winui::Edit {
public:
    std::atomic<int> setTextCount{0};
    std::atomic<DWORD> setTextThread{0};

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_SETTEXT) {
            ++setTextCount;
            setTextThread = ::GetCurrentThreadId();
        }
        return Control::WindowProc(message, wParam, lParam);
    }
};

HWND CreateEdit() {
    return ::CreateWindowExA(0, "EDIT", "", WS_POPUP | ES_MULTILINE, 0, 0, 200, 100, nullptr,
                             nullptr, ::GetModuleHandleA(nullptr), nullptr);
}

TEST(Control, BoundObjectSeesMessagesAndDefaultKeepsTheControlWorking) {
    const HWND hwnd = CreateEdit();
    ASSERT_NE(hwnd, nullptr);
    RecordingEdit edit;
    ASSERT_TRUE(edit.Subclass(hwnd));
    EXPECT_EQ(winui::Control::FromHandle(hwnd), &edit);

    edit.SetText("abc");
    EXPECT_EQ(edit.setTextCount.load(), 1);
    EXPECT_EQ(edit.GetText(), "abc");

    edit.SetSel(3, 3);
    edit.ReplaceSel("d\r\n");
    EXPECT_EQ(edit.GetText(), "abcd\r\n");
    edit.SetSel(100, 100);  // past the end stands for the end
    edit.ReplaceSel("e");
    EXPECT_EQ(edit.GetText(), "abcd\r\ne");
    ::DestroyWindow(hwnd);
}

TEST(Control, CallsFromAnotherThreadRunOnTheControlsThread) {
    const HWND hwnd = CreateEdit();
    ASSERT_NE(hwnd, nullptr);
    RecordingEdit edit;
    ASSERT_TRUE(edit.Subclass(hwnd));

    std::atomic<bool> done{false};
    std::string seen;
    std::thread worker([&] {
        edit.SetText("from worker");
        seen = edit.GetText();
        done = true;
    });
    // The window's thread serves the worker's sent messages while it waits for messages.
    while (!done.load()) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::DispatchMessageA(&msg);
        }
    }
    worker.join();
    EXPECT_EQ(edit.setTextThread.load(), ::GetCurrentThreadId());
    EXPECT_EQ(seen, "from worker");
    ::DestroyWindow(hwnd);
}

TEST(Control, OriginalProcedureReturnsWhenTheObjectEnds) {
    const HWND hwnd = CreateEdit();
    ASSERT_NE(hwnd, nullptr);
    const LONG_PTR original = ::GetWindowLongPtrA(hwnd, GWLP_WNDPROC);
    {
        RecordingEdit edit;
        ASSERT_TRUE(edit.Subclass(hwnd));
        EXPECT_NE(::GetWindowLongPtrA(hwnd, GWLP_WNDPROC), original);
    }
    EXPECT_EQ(::GetWindowLongPtrA(hwnd, GWLP_WNDPROC), original);
    EXPECT_EQ(winui::Control::FromHandle(hwnd), nullptr);
    ::SetWindowTextA(hwnd, "still an edit");
    char text[32] = {};
    ::GetWindowTextA(hwnd, text, sizeof text);
    EXPECT_STREQ(text, "still an edit");
    ::DestroyWindow(hwnd);
}

TEST(Control, ObjectOutlivingItsWindowLetsGoCleanly) {
    RecordingEdit edit;
    const HWND hwnd = CreateEdit();
    ASSERT_NE(hwnd, nullptr);
    ASSERT_TRUE(edit.Subclass(hwnd));
    ::DestroyWindow(hwnd);
    EXPECT_EQ(winui::Control::FromHandle(hwnd), nullptr);
    // A message to the destroyed window fails instead of reaching the object.
    edit.SetText("gone");
    EXPECT_EQ(edit.setTextCount.load(), 0);
}

TEST(Control, SubclassRejectsANonWindow) {
    RecordingEdit edit;
    EXPECT_FALSE(edit.Subclass(nullptr));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

}  // namespace
