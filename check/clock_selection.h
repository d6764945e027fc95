// Which servers to believe: clock selection by interval intersection. Each server says
// the true offset lies within [offset - bound, offset + bound]; the servers whose intervals
// meet in the point that the most intervals share are the survivors, the others are
// falsetickers.
#pragma once

#include <cstddef>
#include <vector>

namespace check {

struct Candidate {
    double offset = 0.0;      // seconds
    double errorBound = 0.0;  // seconds, tolerance included
};

struct Selection {
    std::vector<bool> survivor;  // one per candidate
    std::size_t survivors = 0;
    // The survivors are more than half of the candidates.
    bool valid = false;
    // Median of the survivors' offsets (mean of the middle two for an even count).
    double offset = 0.0;
};

// Where two different groups of equal, largest size meet in different places (A meets B
// and C, which do not meet), the data cannot say which group is right: only the
// candidates in every such group survive.
Selection SelectSurvivors(const std::vector<Candidate>& candidates);

}  // namespace check
