// Starts Winsock 1.1 for the whole test run, as the program does at start-up.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#include <winsock.h>

namespace {

class SocketLayerEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    }
    void TearDown() override { WSACleanup(); }
};

const auto* const kRegistered = ::testing::AddGlobalTestEnvironment(new SocketLayerEnvironment);

}  // namespace
#endif
