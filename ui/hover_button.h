// An owner-drawn push button painted from one strip bitmap of three equal frames side by
// side: normal, pressed and hover. It lights up once the pointer rests on it and shows a
// pointing hand over it and a pressing hand while pressed. Clicks reach the dialog as
// ordinary BN_CLICKED notifications.
#pragma once

#include <windows.h>

#include "winui/control.h"
#include "winui/gdi_object.h"

class CHoverButton : public winui::Control {
public:
    CHoverButton();

    // Loads strip bitmap nIDBitmap and sizes the button to one frame, keeping its position.
    // FALSE (last error set) when the bitmap cannot be loaded: the button then keeps its
    // template size and draws nothing.
    BOOL LoadStrip(UINT nIDBitmap);

    void DrawItem(DRAWITEMSTRUCT* drawItem) override;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    LRESULT OnMouseMove(UINT nFlags, POINT point);
    LRESULT OnMouseLeave(WPARAM wParam, LPARAM lParam);
    LRESULT OnMouseHover(WPARAM wParam, LPARAM lParam);

    BOOL m_bHovering = FALSE;
    int m_nFrameWidth = 0;
    int m_nFrameHeight = 0;
    winui::Bitmap m_bmpStrip;
    // Tracking runs and its hover notice has come: no new tracking is asked for meanwhile.
    BOOL m_bMouseTracked = FALSE;
    // Shared resource cursors, never destroyed.
    HCURSOR m_hCursorHover;
    HCURSOR m_hCursorPressed;
};
