// Scoped device contexts and object selections: each gives back what it took when it ends.
#pragma once

#include <windows.h>

namespace winui {

// GetDC / ReleaseDC: a window's client-area device context.
class WindowDC {
public:
    explicit WindowDC(HWND hwnd) : m_hwnd(hwnd), m_hdc(::GetDC(hwnd)) {}
    ~WindowDC() {
        if (m_hdc != nullptr) {
            ::ReleaseDC(m_hwnd, m_hdc);
        }
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;

    HDC Handle() const { return m_hdc; }

private:
    HWND m_hwnd;
    HDC m_hdc;
};

// BeginPaint / EndPaint, for WM_PAINT only.
class PaintDC {
public:
    explicit PaintDC(HWND hwnd) : m_hwnd(hwnd) { m_hdc = ::BeginPaint(hwnd, &m_paint); }
    ~PaintDC() { ::EndPaint(m_hwnd, &m_paint); }
    PaintDC(const PaintDC&) = delete;
    PaintDC& operator=(const PaintDC&) = delete;

    HDC Handle() const { return m_hdc; }

private:
    HWND m_hwnd;
    PAINTSTRUCT m_paint{};
    HDC m_hdc;
};

// CreateCompatibleDC / DeleteDC.
class MemoryDC {
public:
    explicit MemoryDC(HDC compatibleWith) : m_hdc(::CreateCompatibleDC(compatibleWith)) {}
    ~MemoryDC() {
        if (m_hdc != nullptr) {
            ::DeleteDC(m_hdc);
        }
    }
    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;

    HDC Handle() const { return m_hdc; }

private:
    HDC m_hdc;
};

// CreateICA / DeleteDC: a context for querying a device, not for drawing.
class InformationContext {
public:
    explicit InformationContext(const char* driver)
        : m_hdc(::CreateICA(driver, nullptr, nullptr, nullptr)) {}
    ~InformationContext() {
        if (m_hdc != nullptr) {
            ::DeleteDC(m_hdc);
        }
    }
    InformationContext(const InformationContext&) = delete;
    InformationContext& operator=(const InformationContext&) = delete;

    HDC Handle() const { return m_hdc; }

private:
    HDC m_hdc;
};

// SelectObject for the lifetime of the object; the replaced object goes back in at the end.
class ObjectSelection {
public:
    ObjectSelection(HDC hdc, HGDIOBJ object)
        : m_hdc(hdc), m_previous(::SelectObject(hdc, object)) {}
    ~ObjectSelection() {
        if (m_previous != nullptr && m_previous != HGDI_ERROR) {
            ::SelectObject(m_hdc, m_previous);
        }
    }
    ObjectSelection(const ObjectSelection&) = delete;
    ObjectSelection& operator=(const ObjectSelection&) = delete;

private:
    HDC m_hdc;
    HGDIOBJ m_previous;
};

}  // namespace winui
