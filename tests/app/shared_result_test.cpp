// The stored result between a worker's exchange and Adjust: an offset is applied to the
// clock at most once, whatever the order in which runs and Adjusts interleave, and no
// clock call is made under the record's lock.
#include "app/shared_result.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "../unit/loopback_server.h"
#include "../unit/recording_clock_api.h"
#include "../unit/sntp_answer.h"

namespace {

// How far the time handed to SetSystemTime lies from now.
double SetAheadOfNow(const RecordedCall& call) {
    return NtpTimestamp::FromSystemTime(call.time).Difference(NtpTimestamp::Now());
}

std::vector<RecordedCall> Settings(const RecordingClockApi& api) {
    std::vector<RecordedCall> settings;
    for (const RecordedCall& call : api.calls) {
        if (call.name == "set") {
            settings.push_back(call);
        }
    }
    return settings;
}

double LastSetAheadOfNow(const RecordingClockApi& api) {
    const auto settings = Settings(api);
    if (settings.empty()) {
        ADD_FAILURE() << "SetSystemTime was not called";
        return 0.0;
    }
    return SetAheadOfNow(settings.back());
}

// A server whose clock runs offsetSeconds ahead. While held, it keeps each request's answer
// back until Release: a run then waits in the middle of its exchange.
class TimeServer {
public:
    explicit TimeServer(double offsetSeconds, bool held = false)
        : m_released(m_release.get_future().share()),
          m_server([this, offsetSeconds, held](const Datagram& request) {
              if (held) {
                  m_released.wait();
              }
              Datagram answer = MakeShiftedAnswer(request, offsetSeconds);
              if (m_bReject) {
                  answer[1] = 0;  // a Kiss-o'-Death: rejected
              }
              return std::vector<Datagram>{answer};
          }) {}
    ~TimeServer() { Release(); }

    int Port() const { return m_server.Port(); }
    void RejectAnswers() { m_bReject = true; }
    void Release() {
        if (!m_bReleased) {
            m_bReleased = true;
            m_release.set_value();
        }
    }
    // Waits until the request is in, so the run that sent it is inside its exchange.
    void AwaitRequest() const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (m_server.RequestCount() == 0) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no request arrived";
            std::this_thread::yield();
        }
    }

private:
    std::promise<void> m_release;
    std::shared_future<void> m_released;
    std::atomic<bool> m_bReject{false};
    bool m_bReleased = false;
    LoopbackServer m_server;
};

class SharedResultTest : public ::testing::Test {
protected:
    BOOL Measure(const TimeServer& server, SntpResult* outcome = nullptr) {
        SntpResult scratch;
        return m_shared.Measure(&m_client, "127.0.0.1", server.Port(),
                                outcome != nullptr ? outcome : &scratch);
    }

    RecordingClockApi m_api;
    TimeClient m_client{m_api};
    SharedResult m_shared;
};

TEST_F(SharedResultTest, SecondAdjustDoesNotApplyTheOffsetAgain) {
    TimeServer server(100.0);
    ASSERT_TRUE(Measure(server));

    ASSERT_TRUE(m_shared.SetClockFromOffset(&m_client));
    EXPECT_NEAR(LastSetAheadOfNow(m_api), 100.0, 0.5);
    EXPECT_EQ(m_shared.Copy().m_dClockOffset, 0.0);
    EXPECT_FALSE(m_shared.Copy().m_tsDestination.IsZero()) << "the arrival time is kept";

    ASSERT_TRUE(m_shared.SetClockFromOffset(&m_client));
    EXPECT_NEAR(LastSetAheadOfNow(m_api), 0.0, 0.5);
}

TEST_F(SharedResultTest, RefusedSettingKeepsTheOffsetForAnotherTry) {
    TimeServer server(-42.5);
    ASSERT_TRUE(Measure(server));
    m_api.setTimeError = ERROR_PRIVILEGE_NOT_HELD;
    EXPECT_FALSE(m_shared.SetClockFromOffset(&m_client));
    EXPECT_NEAR(m_shared.Copy().m_dClockOffset, -42.5, 0.1);
    EXPECT_NEAR(LastSetAheadOfNow(m_api), -42.5, 0.5);
}

TEST_F(SharedResultTest, TwoAdjustersApplyOneOffsetOnce) {
    TimeServer server(30.0);
    ASSERT_TRUE(Measure(server));
    m_api.setTimeSleepMs = 5;
    std::thread other([this] { m_shared.SetClockFromOffset(&m_client); });
    m_shared.SetClockFromOffset(&m_client);
    other.join();
    const auto settings = Settings(m_api);
    ASSERT_EQ(settings.size(), 2u);
    EXPECT_EQ((SetAheadOfNow(settings[0]) > 15.0) + (SetAheadOfNow(settings[1]) > 15.0), 1);
}

TEST_F(SharedResultTest, SuccessReplacesTheRecordFailureOnlyTheArrivalTime) {
    TimeServer good(12.0);
    SntpResult outcome;
    ASSERT_TRUE(Measure(good, &outcome));
    const SntpResult first = m_shared.Copy();
    EXPECT_EQ(first.m_tsDestination, outcome.m_tsDestination);
    EXPECT_EQ(first.m_nStratum, 2);
    EXPECT_NEAR(first.m_dClockOffset, 12.0, 0.1);

    TimeServer rejecting(500.0);
    rejecting.RejectAnswers();
    EXPECT_FALSE(Measure(rejecting, &outcome));
    EXPECT_EQ(platform::LastError(), ERROR_INVALID_DATA);
    const SntpResult second = m_shared.Copy();
    EXPECT_FALSE(outcome.m_tsDestination.IsZero());
    EXPECT_EQ(second.m_tsDestination, outcome.m_tsDestination);
    EXPECT_EQ(second.m_dClockOffset, first.m_dClockOffset);
    EXPECT_EQ(second.m_tsTransmit, first.m_tsTransmit);
}

// A run waits for its answer while Adjust spends the offset: whatever the run then gets,
// it must neither bring the spent offset back nor keep one measured across the step.
TEST_F(SharedResultTest, OffsetSpentWhileARunWaitsStaysSpent) {
    for (const bool answerAccepted : {false, true}) {
        SCOPED_TRACE(answerAccepted ? "answer accepted" : "answer rejected");
        TimeServer first(100.0);
        ASSERT_TRUE(Measure(first));

        TimeServer held(100.0, true);
        if (!answerAccepted) {
            held.RejectAnswers();
        }
        SntpResult outcome;
        auto run = std::async(std::launch::async, [&] {
            const BOOL measured = Measure(held, &outcome);
            return std::make_pair(measured, platform::LastError());
        });
        held.AwaitRequest();
        ASSERT_TRUE(m_shared.SetClockFromOffset(&m_client));
        EXPECT_NEAR(LastSetAheadOfNow(m_api), 100.0, 0.5);
        held.Release();
        const auto [measured, reason] = run.get();
        EXPECT_FALSE(measured);
        EXPECT_EQ(reason, answerAccepted ? ERROR_OPERATION_ABORTED : ERROR_INVALID_DATA);
        EXPECT_EQ(m_shared.Copy().m_tsDestination, outcome.m_tsDestination);

        EXPECT_EQ(m_shared.Copy().m_dClockOffset, 0.0);
        ASSERT_TRUE(m_shared.SetClockFromOffset(&m_client));
        EXPECT_NEAR(LastSetAheadOfNow(m_api), 0.0, 0.5) << "the offset was applied twice";
    }
    // A run that begins after the step is believed again.
    TimeServer later(8.0);
    EXPECT_TRUE(Measure(later));
    EXPECT_NEAR(m_shared.Copy().m_dClockOffset, 8.0, 0.1);
}

TEST_F(SharedResultTest, ClockCallIsNotMadeUnderTheLock) {
    TimeServer server(5.0);
    ASSERT_TRUE(Measure(server));
    std::promise<void> readDone;
    std::future<void> readFinished = readDone.get_future();
    std::thread reader;
    bool readWhileSetting = false;
    m_api.whileSetting = [&] {
        // Another thread reads the record while this one is inside the clock call: the
        // read cannot finish before the deadline if the record stays locked meanwhile.
        reader = std::thread([&] {
            m_shared.Copy();
            readDone.set_value();
        });
        readWhileSetting =
            readFinished.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    };
    ASSERT_TRUE(m_shared.SetClockFromOffset(&m_client));
    reader.join();
    EXPECT_TRUE(readWhileSetting);
}

}  // namespace
