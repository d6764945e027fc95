// Setting the clock through a recording stand-in: every row of the failure table, the
// privilege switched on for the change alone, the token closed, no overlapping calls.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "net/time_client.h"
#include "recording_clock_api.h"

namespace {

using Names = std::vector<std::string>;

const SYSTEMTIME kJune = [] {
    SYSTEMTIME t{};
    t.wYear = 2002;
    t.wMonth = 6;
    t.wDay = 15;
    t.wHour = 12;
    t.wMinute = 34;
    t.wSecond = 56;
    t.wMilliseconds = 789;
    return t;
}();

BOOL SetJune(RecordingClockApi* api) {
    TimeClient client(*api);
    const NtpTimestamp june = NtpTimestamp::FromSystemTime(kJune);
    return client.SetClock(&june);
}

void ExpectPrivilegeSwitchedOnThenOff(const RecordingClockApi& api) {
    std::vector<const RecordedCall*> adjusts;
    for (const RecordedCall& call : api.calls) {
        if (call.name == "adjust") {
            adjusts.push_back(&call);
        }
    }
    ASSERT_EQ(adjusts.size(), 2u);
    EXPECT_EQ(adjusts[0]->count, 1u);
    EXPECT_EQ(adjusts[0]->attributes, SE_PRIVILEGE_ENABLED);
    EXPECT_EQ(adjusts[0]->luid.LowPart, 22u);
    EXPECT_EQ(adjusts[1]->count, 1u);
    EXPECT_EQ(adjusts[1]->attributes, 0u);
    EXPECT_EQ(adjusts[1]->luid.LowPart, 22u);
}

TEST(SetClock, EveryCallSucceeds) {
    RecordingClockApi api;
    EXPECT_TRUE(SetJune(&api));
    EXPECT_EQ(api.Names(), (Names{"open", "lookup", "adjust", "set", "adjust", "close"}));
    EXPECT_EQ(api.calls[0].access, 40u);
    EXPECT_EQ(api.calls[1].privilege, "SeSystemtimePrivilege");
    ExpectPrivilegeSwitchedOnThenOff(api);
    const SYSTEMTIME& set = api.calls[3].time;
    EXPECT_EQ(set.wYear, 2002);
    EXPECT_EQ(set.wMonth, 6);
    EXPECT_EQ(set.wDay, 15);
    EXPECT_EQ(set.wDayOfWeek, 6);
    EXPECT_EQ(set.wHour, 12);
    EXPECT_EQ(set.wMinute, 34);
    EXPECT_EQ(set.wSecond, 56);
    EXPECT_EQ(set.wMilliseconds, 789);
    EXPECT_EQ(api.openTokens, 0);
}

TEST(SetClock, TokenCannotBeOpened) {
    RecordingClockApi api;
    api.openError = 5;  // access denied
    EXPECT_FALSE(SetJune(&api));
    EXPECT_EQ(api.Names(), (Names{"open"}));
}

TEST(SetClock, NoAccessTokensOnThisSystem) {
    RecordingClockApi api;
    api.openError = ERROR_CALL_NOT_IMPLEMENTED;
    platform::SetLastError(77);
    EXPECT_TRUE(SetJune(&api));
    EXPECT_EQ(api.Names(), (Names{"open", "set"}));
    EXPECT_EQ(api.calls[1].lastErrorOnEntry, 0u);

    RecordingClockApi refusing;
    refusing.openError = ERROR_CALL_NOT_IMPLEMENTED;
    refusing.setTimeError = ERROR_PRIVILEGE_NOT_HELD;
    EXPECT_FALSE(SetJune(&refusing));
    EXPECT_EQ(refusing.Names(), (Names{"open", "set"}));
}

TEST(SetClock, PrivilegeLookupFails) {
    RecordingClockApi api;
    api.lookupError = 1313;  // no such privilege
    EXPECT_FALSE(SetJune(&api));
    EXPECT_EQ(api.Names(), (Names{"open", "lookup", "close"}));
    EXPECT_EQ(api.openTokens, 0);
}

TEST(SetClock, EnablingCallFailsButIsStillSwitchedOff) {
    RecordingClockApi api;
    api.enableError = 6;
    EXPECT_FALSE(SetJune(&api));
    EXPECT_EQ(api.Names(), (Names{"open", "lookup", "adjust", "adjust", "close"}));
    ExpectPrivilegeSwitchedOnThenOff(api);
}

TEST(SetClock, SystemRefusesTheNewTime) {
    RecordingClockApi api;
    api.setTimeError = ERROR_PRIVILEGE_NOT_HELD;
    EXPECT_FALSE(SetJune(&api));
    EXPECT_EQ(api.Names(), (Names{"open", "lookup", "adjust", "set", "adjust", "close"}));
    ExpectPrivilegeSwitchedOnThenOff(api);
    EXPECT_EQ(api.openTokens, 0);
}

TEST(SetClock, TwoCallsInARowEachOpenEnableSetDisableAndClose) {
    RecordingClockApi api;
    TimeClient client(api);
    const NtpTimestamp june = NtpTimestamp::FromSystemTime(kJune);
    EXPECT_TRUE(client.SetClock(&june));
    EXPECT_TRUE(client.SetClock(&june));
    const Names once{"open", "lookup", "adjust", "set", "adjust", "close"};
    Names twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(api.Names(), twice);
    EXPECT_EQ(api.openTokens, 0);
}

TEST(SetClock, CallsFromTwoThreadsNeverOverlap) {
    RecordingClockApi api;
    api.setTimeSleepMs = 20;
    TimeClient client(api);
    const NtpTimestamp june = NtpTimestamp::FromSystemTime(kJune);
    std::thread other([&] {
        for (int i = 0; i < 5; ++i) {
            client.SetClock(&june);
        }
    });
    for (int i = 0; i < 5; ++i) {
        client.SetClock(&june);
    }
    other.join();
    EXPECT_FALSE(api.overlapped.load());
    EXPECT_EQ(api.openTokens, 0);
    // Each call's sequence stays whole: the names come in unbroken groups of six.
    const Names names = api.Names();
    ASSERT_EQ(names.size(), 60u);
    for (std::size_t i = 0; i < names.size(); i += 6) {
        EXPECT_EQ(names[i], "open");
        EXPECT_EQ(names[i + 3], "set");
        EXPECT_EQ(names[i + 5], "close");
    }
}

TEST(CorrectedClockTime, RefusesOffsetsThatWouldSetGarbage) {
    NtpTimestamp target = NtpTimestamp::FromParts(9, 9);
    for (const double bad : {double{NAN}, double{INFINITY}, -double{INFINITY}, 3e9, -3e9, 1e300}) {
        EXPECT_FALSE(CorrectedClockTime(bad, &target)) << bad;
        EXPECT_EQ(platform::LastError(), ERROR_INVALID_DATA);
    }
    EXPECT_EQ(target, NtpTimestamp::FromParts(9, 9));
    ASSERT_TRUE(CorrectedClockTime(-3600.5, &target));
    EXPECT_NEAR(target.Difference(NtpTimestamp::Now()), -3600.5, 0.5);
}

#ifndef _WIN32
TEST(SetClockNative, ThereAreNoAccessTokens) {
    HANDLE token = nullptr;
    EXPECT_FALSE(platform::RealSystemClockApi().OpenProcessToken(40, &token));
    EXPECT_EQ(platform::LastError(), ERROR_CALL_NOT_IMPLEMENTED);
}
#endif

}  // namespace
