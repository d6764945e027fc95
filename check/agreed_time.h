// Which servers count, and whether their result may stand: clock selection, then the time
// the servers agree on (T, the local clock plus the combined offset) judged.
//   - A counted server whose certificate chain the local clock lay outside of must be valid
//     at T (nts::ChainValidAt); one that is not is rejected and the selection runs again
//     without it.
//   - A result that needed the agreed time stands only when two distinct servers agree.
//   - No result stands whose T is before this program's release date (release_date.h).
#pragma once

#include <cstdint>
#include <vector>

#include "check/clock_check.h"

namespace check {

// reports: one per distinct server asked (probe order), updated with the falsetickers and
// the servers rejected at T. localClock: when the check ended, Unix seconds.
void SelectAtAgreedTime(const CheckSettings& settings, int asked, std::int64_t localClock,
                        std::int64_t releaseDate, std::vector<ServerReport>* reports,
                        CheckResult* result);

// "the local clock reads 2025-11-02 00:12 UTC, before this program's release on 2026-12-07:
// it is certainly wrong"
std::string LocalClockBeforeReleaseText(const CheckResult& result);

}  // namespace check
