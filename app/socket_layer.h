// One reference on the platform's socket layer (Winsock 1.1), released on destruction.
#pragma once

#include <windows.h>
#include <winsock.h>

enum class SocketLayerStart { Started, LoadFailed, VersionUnsupported };

class SocketLayer {
public:
    SocketLayer() = default;
    ~SocketLayer();
    SocketLayer(const SocketLayer&) = delete;
    SocketLayer& operator=(const SocketLayer&) = delete;

    // Asks for version 1.1 exactly; any other version granted is released again at once.
    SocketLayerStart Start();
    // The same for another version (2.2 for IPv6 look-ups).
    SocketLayerStart Start(BYTE major, BYTE minor);
    // Start, and the text that replaces the log when it fails; nullptr once started.
    const char* StartOrFailureText();

private:
    bool m_bStarted = false;
};
