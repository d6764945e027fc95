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

// "valid agreed OOR": the result's validity, whose time judged the certificates, then each
// server's status (O ok, R rejected, F falseticker).
std::string Outcome(const check::CheckResult& result,
                    const std::vector<check::ServerReport>& reports) {
    std::string outcome = std::string(result.valid ? "valid" : "invalid") +
                          (result.agreedCertificateTime ? " agreed " : " local ");
    for (const check::ServerReport& s : reports) {
        outcome += s.status == ServerStatus::kOk         ? 'O'
                   : s.status == ServerStatus::kRejected ? 'R'
                                                         : 'F';
    }
    return outcome;
}

TEST(AgreedTime, WindowsAgainstTheAgreedTimeTheTwoServerRuleAndTheFloor) {
    const double wrong = 400.0 * kDay;  // the local clock is 400 days behind
    const std::int64_t d = kDay;
    struct Row {
        const char* name;
        std::vector<Server> servers;
        int minAgree;
        std::int64_t release;  // relative to the local clock
        const char* outcome;
        const char* refusal;  // part of it; "" for none
    };
    // One row a case.
    // clang-format off
    const Row rows[] = {
        {"three windows that hold T though not the local clock",
         {{wrong, 399 * d, 401 * d}, {wrong, 300 * d, 500 * d}, {wrong, 400 * d, 400 * d + 10}},
         0, -1, "valid agreed OOO", ""},
        {"a window that ended before T: rejected, the other two decide",
         {{wrong, 399 * d, 401 * d}, {wrong, 399 * d, 401 * d}, {wrong, 390 * d, 399 * d}},
         0, -1, "valid agreed OOR", ""},
        {"a window that starts just after T",
         {{wrong, 399 * d, 401 * d}, {wrong, 399 * d, 401 * d}, {wrong, 400 * d + 60, 401 * d}},
         0, -1, "valid agreed OOR", ""},
        {"a lone server cannot vouch for the time its certificate is judged at",
         {{wrong, 399 * d, 401 * d}}, 1, -1, "invalid agreed O", "need two servers that agree"},
        {"one of two rejected at T leaves one: no result",
         {{wrong, 399 * d, 401 * d}, {wrong, 1 * d, 2 * d}}, 1, -1, "invalid agreed OR",
         "need two servers"},
        {"all agree on the local clock, one window misses it: that server goes",
         {{0.0, -d, d}, {0.0, -d, d}, {0.0, 100, d}}, 0, -1, "valid local OOR", ""},
        {"windows valid at the local clock need nothing: one server is enough",
         {{0.5, -d, d}}, 1, -1, "valid local O", ""},
        {"no certificate (plain SNTP): the floor alone",
         {{-40.0 * d, 1, 0}, {-40.0 * d, 1, 0}}, 0, -39 * d, "invalid local OO",
         "before this program's release"},
        {"T on the release date itself stands", {{-10.0, 1, 0}}, 1, -10, "valid local O", ""},
        {"T a second before the release date does not", {{-11.0, 1, 0}}, 1, -10,
         "invalid local O", "before this program's release"},
        {"a local clock before the release, T after it: set right",
         {{wrong, 1, 0}, {wrong, 1, 0}}, 0, 10 * d, "valid local OO", ""},
    };
    // clang-format on
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
        EXPECT_EQ(Outcome(result, reports), row.outcome);
        EXPECT_EQ(result.localClockBeforeRelease, row.release > 0);
        for (const check::ServerReport& s : reports) {
            if (s.status == ServerStatus::kRejected) {
                EXPECT_EQ(s.reason.rfind("certificate valid from ", 0), 0u) << s.reason;
            }
        }
        EXPECT_NE(result.refusal.find(row.refusal), std::string::npos) << result.refusal;
        EXPECT_EQ(result.refusal.empty(), *row.refusal == '\0');
    }
}

}  // namespace
