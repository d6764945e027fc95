// The result judged at the agreed time: certificate windows against T, the re-selection
// without a server not valid at T, the two-server rule and the release-date floor.
#include "check/agreed_time.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using check::ServerStatus;

constexpr std::int64_t kLocal = 1800000000;  // the local clock, 2027-01-15
constexpr std::int64_t kDay = 86400;

struct Server {
    double offset;      // seconds
    std::int64_t from;  // window, relative to the local clock; from > until: no certificate
    std::int64_t until;
};

check::ServerReport Report(const Server& s) {
    check::ServerReport report;
    report.status = ServerStatus::kOk;
    report.measured = true;
    report.best.offset = s.offset;
    report.errorBound = 0.01;
    if (s.from <= s.until) {
        // A chain of two: the leaf's window inside the CA's.
        report.certificate.Narrow(kLocal + s.from - kDay, kLocal + s.until + kDay);
        report.certificate.Narrow(kLocal + s.from, kLocal + s.until);
        report.certificate.outsideLocalClock = !report.certificate.Holds(kLocal);
    }
    return report;
}

TEST(AgreedTime, WindowsAgainstTheAgreedTimeTheTwoServerRuleAndTheFloor) {
    const double wrong = 400.0 * kDay;  // the local clock is 400 days behind
    struct Row {
        const char* name;
        std::vector<Server> servers;
        int minAgree;
        std::int64_t release;  // relative to the local clock
        bool valid;
        bool agreedTime;
        std::vector<ServerStatus> statuses;
        const char* refusal;  // part of it; "" for none
    };
    const Row rows[] = {
        {"three windows that hold T though not the local clock",
         {{wrong, 399 * kDay, 401 * kDay},
          {wrong, 300 * kDay, 500 * kDay},
          {wrong, 400 * kDay, 400 * kDay + 10}},
         0,
         -1,
         true,
         true,
         {ServerStatus::kOk, ServerStatus::kOk, ServerStatus::kOk},
         ""},
        {"a window that ended before T: rejected, the other two decide",
         {{wrong, 399 * kDay, 401 * kDay},
          {wrong, 399 * kDay, 401 * kDay},
          {wrong, 390 * kDay, 399 * kDay}},
         0,
         -1,
         true,
         true,
         {ServerStatus::kOk, ServerStatus::kOk, ServerStatus::kRejected},
         ""},
        {"a window that starts just after T",
         {{wrong, 399 * kDay, 401 * kDay},
          {wrong, 399 * kDay, 401 * kDay},
          {wrong, 400 * kDay + 60, 401 * kDay}},
         0,
         -1,
         true,
         true,
         {ServerStatus::kOk, ServerStatus::kOk, ServerStatus::kRejected},
         ""},
        {"a lone server cannot vouch for the time its certificate is judged at",
         {{wrong, 399 * kDay, 401 * kDay}},
         1,
         -1,
         false,
         true,
         {ServerStatus::kOk},
         "need two servers that agree"},
        {"one of two rejected at T leaves one: no result",
         {{wrong, 399 * kDay, 401 * kDay}, {wrong, 1 * kDay, 2 * kDay}},
         1,
         -1,
         false,
         true,
         {ServerStatus::kOk, ServerStatus::kRejected},
         "need two servers"},
        {"all agree on the local clock, one window misses it: that server goes",
         {{0.0, -kDay, kDay}, {0.0, -kDay, kDay}, {0.0, 100, kDay}},
         0,
         -1,
         true,
         false,
         {ServerStatus::kOk, ServerStatus::kOk, ServerStatus::kRejected},
         ""},
        {"valid windows at the local clock need nothing: one server is enough",
         {{0.5, -kDay, kDay}},
         1,
         -1,
         true,
         false,
         {ServerStatus::kOk},
         ""},
        {"no certificate (plain SNTP): the floor alone",
         {{-40.0 * kDay, 1, 0}, {-40.0 * kDay, 1, 0}},
         0,
         -39 * kDay,
         false,
         false,
         {ServerStatus::kOk, ServerStatus::kOk},
         "before this program's release"},
        {"T on the release date itself stands",
         {{-10.0, 1, 0}},
         1,
         -10,
         true,
         false,
         {ServerStatus::kOk},
         ""},
        {"T a second before the release date does not",
         {{-11.0, 1, 0}},
         1,
         -10,
         false,
         false,
         {ServerStatus::kOk},
         "before this program's release"},
        {"a local clock before the release, T after it: set right",
         {{wrong, 1, 0}, {wrong, 1, 0}},
         0,
         10 * kDay,
         true,
         false,
         {ServerStatus::kOk, ServerStatus::kOk},
         ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<check::ServerReport> reports;
        for (const Server& s : row.servers) {
            reports.push_back(Report(s));
        }
        check::CheckSettings settings;
        settings.minAgree = row.minAgree;
        check::CheckResult result;
        check::SelectAtAgreedTime(settings, static_cast<int>(reports.size()), kLocal,
                                  kLocal + row.release, &reports, &result);
        EXPECT_EQ(result.valid, row.valid);
        EXPECT_EQ(result.agreedCertificateTime, row.agreedTime);
        EXPECT_EQ(result.localClockBeforeRelease, row.release > 0);
        for (std::size_t i = 0; i < reports.size(); ++i) {
            EXPECT_EQ(reports[i].status, row.statuses[i]) << "server " << i;
            if (reports[i].status == ServerStatus::kRejected) {
                EXPECT_NE(reports[i].reason.find("certificate valid from"), std::string::npos);
            }
        }
        EXPECT_NE(result.refusal.find(row.refusal), std::string::npos) << result.refusal;
        EXPECT_EQ(result.refusal.empty(), *row.refusal == '\0');
    }
}

}  // namespace
