// An edit control: the caret and selection operations that writing into it needs.
#pragma once

#include <string>

#include "winui/control.h"

namespace winui {

class Edit : public Control {
public:
    // A position past the end of the text stands for the end.
    void SetSel(int start, int end) const {
        ::SendMessageA(Hwnd(), EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
    }
    void ScrollCaret() const { ::SendMessageA(Hwnd(), EM_SCROLLCARET, 0, 0); }
    // Not undoable; works on a read-only control too.
    void ReplaceSel(const std::string& text) const {
        ::SendMessageA(Hwnd(), EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    }
};

}  // namespace winui
