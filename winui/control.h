// A child control bound to a C++ object: the window is subclassed so that the object's
// WindowProc sees every message first, and anything it does not handle goes on to the
// control's own window procedure.
#pragma once

#include <windows.h>

#include <string>

namespace winui {

class Control {
public:
    Control() = default;
    virtual ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    // Binds the object to an existing control window. FALSE (last error set) when hwnd is
    // not a window or the subclassing fails.
    BOOL Subclass(HWND hwnd);
    HWND Hwnd() const { return m_hWnd; }

    // The object bound to a control window, or nullptr.
    static Control* FromHandle(HWND hwnd);

    // Owner-draw request forwarded by the parent dialog.
    virtual void DrawItem(DRAWITEMSTRUCT* drawItem);

    // These send the message, so they are safe from any thread: a call from another
    // thread runs on the thread that owns the control while the caller waits.
    std::string GetText() const;
    void SetText(const std::string& text) const;
    void SetFont(HFONT font, BOOL redraw) const;

protected:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The control's own processing of a message.
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Unsubclass();

    // Set once by Subclass before any worker exists and never cleared, so other threads may
    // read it without a lock; a destroyed window simply fails their messages.
    HWND m_hWnd = nullptr;
    WNDPROC m_originalProc = nullptr;
    bool m_bSubclassed = false;
};

}  // namespace winui
