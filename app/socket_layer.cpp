#include "app/socket_layer.h"

#include "app/report_lines.h"

namespace {
constexpr BYTE kMajor = 1;
constexpr BYTE kMinor = 1;
}  // namespace

SocketLayer::~SocketLayer() {
    if (m_bStarted) {
        ::WSACleanup();
    }
}

SocketLayerStart SocketLayer::Start() {
    return Start(kMajor, kMinor);
}

SocketLayerStart SocketLayer::Start(BYTE major, BYTE minor) {
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(major, minor), &data) != 0) {
        return SocketLayerStart::LoadFailed;
    }
    if (LOBYTE(data.wVersion) != major || HIBYTE(data.wVersion) != minor) {
        ::WSACleanup();
        return SocketLayerStart::VersionUnsupported;
    }
    m_bStarted = true;
    return SocketLayerStart::Started;
}

const char* SocketLayer::StartOrFailureText() {
    switch (Start()) {
        case SocketLayerStart::Started:
            return nullptr;
        case SocketLayerStart::LoadFailed:
            return report::kWinsockLoadFailed;
        case SocketLayerStart::VersionUnsupported:
            return report::kWinsockVersionUnsupported;
    }
    return report::kWinsockLoadFailed;
}
