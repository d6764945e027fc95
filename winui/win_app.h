// The application object: the program's one instance of a class derived from WinApp
// carries the start-up (InitInstance); WinMain hands it to Run.
#pragma once

#include <windows.h>

#include <string>

namespace winui {

class Dialog;

// The module that holds the program's resources: the executable itself.
HINSTANCE ResourceInstance();

class WinApp {
public:
    WinApp() = default;
    virtual ~WinApp() = default;
    WinApp(const WinApp&) = delete;
    WinApp& operator=(const WinApp&) = delete;

    // Runs InitInstance. The program has no message loop of its own: everything happens
    // inside InitInstance, and the exit code is 0.
    int Run();

    // The application's name, the executable file's base name ("quillon").
    std::string AppName() const;
    // A modal message box captioned with the application's name.
    int MessageBox(const std::string& text, UINT type) const;

    Dialog* MainWindow() const { return m_pMainWnd; }

protected:
    // FALSE ends the program.
    virtual BOOL InitInstance() = 0;

    Dialog* m_pMainWnd = nullptr;
};

}  // namespace winui
