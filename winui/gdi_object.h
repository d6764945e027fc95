// Owner of one GDI object (font, bitmap, region), deleted on destruction unless it has
// been handed over to the system with Release().
#pragma once

#include <windows.h>

#include <utility>

namespace winui {

template <typename H>
class GdiObject {
public:
    GdiObject() = default;
    explicit GdiObject(H handle) : m_handle(handle) {}
    ~GdiObject() { Delete(); }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    GdiObject(GdiObject&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    GdiObject& operator=(GdiObject&& other) noexcept {
        if (this != &other) {
            Attach(std::exchange(other.m_handle, nullptr));
        }
        return *this;
    }

    H Handle() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

    // Takes ownership of handle, deleting the object held before.
    void Attach(H handle) {
        Delete();
        m_handle = handle;
    }
    // Gives up ownership, e.g. after SetWindowRgn, which makes the system the owner.
    H Release() { return std::exchange(m_handle, nullptr); }
    void Delete() {
        if (m_handle != nullptr) {
            ::DeleteObject(m_handle);
            m_handle = nullptr;
        }
    }

private:
    H m_handle = nullptr;
};

using Font = GdiObject<HFONT>;
using Bitmap = GdiObject<HBITMAP>;
using Region = GdiObject<HRGN>;

}  // namespace winui
