// A combo box: the list operations that filling it needs. Its text (GetText) is the text
// of its edit field.
#pragma once

#include <cstddef>
#include <string>

#include "winui/control.h"

namespace winui {

class ComboBox : public Control {
public:
    int AddString(const std::string& text) const {
        return static_cast<int>(
            ::SendMessageA(Hwnd(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
    }
    // Room for count more entries of about bytes in all, so that a long list is not
    // added one reallocation at a time.
    void InitStorage(int count, std::size_t bytes) const {
        ::SendMessageA(Hwnd(), CB_INITSTORAGE, static_cast<WPARAM>(count),
                       static_cast<LPARAM>(bytes));
    }
    // Stops (FALSE) or restarts (TRUE) the box's repainting and scroll-bar upkeep, which
    // otherwise runs for every entry added.
    void SetRedraw(BOOL redraw) const {
        ::SendMessageA(Hwnd(), WM_SETREDRAW, static_cast<WPARAM>(redraw), 0);
    }
    int GetCount() const { return static_cast<int>(::SendMessageA(Hwnd(), CB_GETCOUNT, 0, 0)); }
    int SetCurSel(int index) const {
        return static_cast<int>(
            ::SendMessageA(Hwnd(), CB_SETCURSEL, static_cast<WPARAM>(index), 0));
    }
};

}  // namespace winui
