#include "winui/win_app.h"

#include "winui/dialog.h"

namespace winui {

HINSTANCE ResourceInstance() {
    return ::GetModuleHandleA(nullptr);
}

int WinApp::Run() {
    InitInstance();
    return 0;
}

std::string WinApp::AppName() const {
    char path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name(path, length < MAX_PATH ? length : 0);
    const size_t slash = name.find_last_of("\\/:");
    if (slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        name.erase(dot);
    }
    return name;
}

int WinApp::MessageBox(const std::string& text, UINT type) const {
    const HWND owner = m_pMainWnd != nullptr ? m_pMainWnd->Hwnd() : nullptr;
    return ::MessageBoxA(owner, text.c_str(), AppName().c_str(), type);
}

}  // namespace winui
