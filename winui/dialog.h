// A modal dialog built from a dialog template. The dialog procedure finds the object
// (kept in DWLP_USER) and hands every message to DialogMessage, a switch that calls named
// handlers; a derived dialog overrides DialogMessage for its own messages and passes the
// rest to this base.
//
// Return values follow the dialog-procedure rule: FALSE lets the dialog manager's default
// processing run; for WM_INITDIALOG, WM_CTLCOLOR* and WM_QUERYDRAGICON the value itself is
// the message's result.
#pragma once

#include <windows.h>

#include "winui/control.h"

namespace winui {

class Dialog {
public:
    explicit Dialog(UINT templateId, HWND parent = nullptr);
    virtual ~Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Creates the dialog and runs it until EndDialog; the code given to EndDialog, or -1
    // (last error set) when the dialog could not be created.
    INT_PTR DoModal();
    HWND Hwnd() const { return m_hWnd; }

protected:
    virtual INT_PTR DialogMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // Binds the controls to their members (Bind); called by the base OnInitDialog.
    virtual void DoDataExchange() {}
    // TRUE gives the focus to the first control with a tab stop.
    virtual BOOL OnInitDialog();
    // TRUE when the command was handled.
    virtual BOOL OnCommand(WORD id, WORD notifyCode, HWND control);
    virtual void OnOK();
    virtual void OnCancel();

    // Subclasses the dialog's control id so that the object handles its messages.
    BOOL Bind(int id, Control& control);
    void EndDialog(INT_PTR result);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // Owner-draw requests go to the control that draws itself.
    BOOL OnDrawItem(DRAWITEMSTRUCT* drawItem);

    UINT m_templateId;
    HWND m_parent;
    HWND m_hWnd = nullptr;
};

}  // namespace winui
