#include "app/ntp_client_app.h"

#include "app/ntp_client_dlg.h"
#include "app/socket_layer.h"

namespace {
// The one application object.
CNtpClientApp theApp;
}  // namespace

BOOL CNtpClientApp::InitInstance() {
    SocketLayer sockets;
    if (sockets.Start() != SocketLayerStart::Started) {
        MessageBox("Sockets Creation failed", MB_OK);
        return FALSE;
    }

    CNtpClientDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    if (dlg.WorkerRunning()) {
        // Nothing waits for a worker, and it must never touch the dialog once the dialog is
        // gone: end the process before the dialog object is destroyed.
        ::ExitProcess(0);
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return theApp.Run();
}
