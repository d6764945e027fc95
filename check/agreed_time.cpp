#include "check/agreed_time.h"

#include <algorithm>
#include <cmath>

#include "check/clock_selection.h"
#include "nts/certificate_window.h"

namespace check {
namespace {

// Clock selection over the distinct servers asked, updating reports with the falsetickers.
void Select(const CheckSettings& settings, int asked, std::vector<ServerReport>* reports,
            CheckResult* result) {
    std::vector<Candidate> candidates;
    std::vector<ServerReport*> measured;
    for (ServerReport& server : *reports) {
        if (server.status == ServerStatus::kOk) {
            candidates.push_back(
                {server.best.offset, server.errorBound + settings.toleranceSeconds});
            measured.push_back(&server);
        }
    }
    const Selection selection = SelectSurvivors(candidates);
    result->asked = asked;
    result->answered = static_cast<int>(candidates.size());
    result->agree = static_cast<int>(selection.survivors);
    result->minAgree = settings.minAgree > 0 ? settings.minAgree : asked / 2 + 1;
    result->majority = selection.valid;
    // A majority of the answers alone is not enough: when most servers asked are silent,
    // the few that answer must not decide (one of one is no check at all).
    result->valid = selection.valid && result->agree >= result->minAgree;
    result->offset = selection.offset;
    result->errorBound = 0.0;
    for (std::size_t i = 0; i < measured.size(); ++i) {
        if (selection.survivor[i]) {
            result->errorBound = std::max(result->errorBound, measured[i]->errorBound);
        } else {
            measured[i]->status = ServerStatus::kFalseticker;
        }
    }
}

std::int64_t AgreedTime(std::int64_t localClock, const CheckResult& result) {
    return localClock + static_cast<std::int64_t>(std::llround(result.offset));
}

}  // namespace

void SelectAtAgreedTime(const CheckSettings& settings, int asked, std::int64_t localClock,
                        std::int64_t releaseDate, std::vector<ServerReport>* reports,
                        CheckResult* result) {
    // Each round rejects at least one more server or ends. A server not valid at T is
    // taken out before T is found again: its own vote must not move T into its window.
    const std::vector<ServerReport> asAnswered = *reports;
    std::vector<std::string> rejectedWhy(reports->size());
    for (;;) {
        *reports = asAnswered;
        for (std::size_t i = 0; i < reports->size(); ++i) {
            if (!rejectedWhy[i].empty()) {
                (*reports)[i].status = ServerStatus::kRejected;
                (*reports)[i].reason = rejectedWhy[i];
            }
        }
        Select(settings, asked, reports, result);
        if (!result->majority) {
            break;
        }
        const std::int64_t agreed = AgreedTime(localClock, *result);
        bool again = false;
        for (std::size_t i = 0; i < reports->size(); ++i) {
            const ServerReport& server = (*reports)[i];
            if (server.status == ServerStatus::kOk && server.certificate.outsideLocalClock &&
                !nts::ChainValidAt(server.certificate, agreed, &rejectedWhy[i])) {
                again = true;
            }
        }
        if (!again) {
            break;
        }
    }

    result->localClock = localClock;
    result->releaseDate = releaseDate;
    result->localClockBeforeRelease = localClock < releaseDate;
    result->agreedCertificateTime =
        std::any_of(reports->begin(), reports->end(), [](const ServerReport& s) {
            return s.status == ServerStatus::kOk && s.certificate.outsideLocalClock;
        });
    if (!result->valid) {
        return;
    }
    const std::int64_t agreed = AgreedTime(localClock, *result);
    if (agreed < releaseDate) {
        result->valid = false;
        result->refusal = "the servers agree on " + nts::UtcMinuteText(agreed) +
                          ", before this program's release on " + nts::UtcDateText(releaseDate) +
                          ": no clock reads that";
    } else if (result->agreedCertificateTime && result->agree < 2) {
        // One server vouching for the time its own certificate is judged at proves nothing.
        result->valid = false;
        result->refusal =
            "certificates judged at the agreed time need two servers that agree, "
            "but only " +
            std::to_string(result->agree) + " does";
    }
}

std::string LocalClockBeforeReleaseText(const CheckResult& result) {
    return "the local clock reads " + nts::UtcMinuteText(result.localClock) +
           ", before this program's release on " + nts::UtcDateText(result.releaseDate) +
           ": it is certainly wrong";
}

}  // namespace check
