// The application object: starts the socket layer for the process and runs the main
// dialog; the program ends when the dialog ends.
#pragma once

#include "winui/win_app.h"

class CNtpClientApp : public winui::WinApp {
protected:
    BOOL InitInstance() override;
};
