// Adjust's bookkeeping: the clock is set from the stored offset, and once set the offset is
// spent, so pressing Adjust again does not move the clock a second time.
#include "app/shared_result.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "../unit/recording_clock_api.h"

namespace {

// How far the time handed to SetSystemTime lies from now.
double SetAheadOfNow(const RecordingClockApi& api) {
    for (auto it = api.calls.rbegin(); it != api.calls.rend(); ++it) {
        if (it->name == "set") {
            return NtpTimestamp::FromSystemTime(it->time).Difference(NtpTimestamp::Now());
        }
    }
    ADD_FAILURE() << "SetSystemTime was not called";
    return NAN;
}

int SetCount(const RecordingClockApi& api) {
    int count = 0;
    for (const RecordedCall& call : api.calls) {
        count += call.name == "set" ? 1 : 0;
    }
    return count;
}

SntpResult Measured(double offset) {
    SntpResult result;
    result.m_tsDestination = NtpTimestamp::Now();
    result.m_dClockOffset = offset;
    return result;
}

TEST(SharedResult, SecondAdjustDoesNotApplyTheOffsetAgain) {
    RecordingClockApi api;
    TimeClient client(api);
    SharedResult shared;
    shared.Publish(Measured(100.0));

    ASSERT_TRUE(shared.SetClockFromOffset(&client));
    EXPECT_NEAR(SetAheadOfNow(api), 100.0, 0.5);
    EXPECT_EQ(shared.Copy().m_dClockOffset, 0.0);
    EXPECT_FALSE(shared.Copy().m_tsDestination.IsZero()) << "the arrival time is kept";

    ASSERT_TRUE(shared.SetClockFromOffset(&client));
    EXPECT_NEAR(SetAheadOfNow(api), 0.0, 0.5);
}

TEST(SharedResult, RefusedSettingKeepsTheOffsetForAnotherTry) {
    RecordingClockApi api;
    api.setTimeError = ERROR_PRIVILEGE_NOT_HELD;
    TimeClient client(api);
    SharedResult shared;
    shared.Publish(Measured(-42.5));
    EXPECT_FALSE(shared.SetClockFromOffset(&client));
    EXPECT_EQ(shared.Copy().m_dClockOffset, -42.5);
    EXPECT_NEAR(SetAheadOfNow(api), -42.5, 0.5);
}

TEST(SharedResult, OffsetThatIsNoNumberNeverReachesTheClock) {
    RecordingClockApi api;
    TimeClient client(api);
    SharedResult shared;
    shared.Publish(Measured(NAN));
    EXPECT_FALSE(shared.SetClockFromOffset(&client));
    shared.Publish(Measured(INFINITY));
    EXPECT_FALSE(shared.SetClockFromOffset(&client));
    EXPECT_TRUE(api.calls.empty());
}

TEST(SharedResult, TwoAdjustersApplyOneOffsetOnce) {
    RecordingClockApi api;
    api.setTimeSleepMs = 5;
    TimeClient client(api);
    SharedResult shared;
    shared.Publish(Measured(30.0));
    std::thread other([&] { shared.SetClockFromOffset(&client); });
    shared.SetClockFromOffset(&client);
    other.join();
    ASSERT_EQ(SetCount(api), 2);
    // Exactly one of the two settings carried the offset.
    int withOffset = 0;
    for (const RecordedCall& call : api.calls) {
        if (call.name == "set" &&
            NtpTimestamp::FromSystemTime(call.time).Difference(NtpTimestamp::Now()) > 15.0) {
            ++withOffset;
        }
    }
    EXPECT_EQ(withOffset, 1);
}

TEST(SharedResult, PublishReplacesTheWholeRecord) {
    SharedResult shared;
    EXPECT_TRUE(shared.Copy().m_tsDestination.IsZero());
    SntpResult result = Measured(1.0);
    result.m_nStratum = 4;
    shared.Publish(result);
    EXPECT_EQ(shared.Copy().m_nStratum, 4);
    EXPECT_EQ(shared.Copy().m_tsDestination, result.m_tsDestination);
}

}  // namespace
