#include "check/clock_selection.h"

#include <algorithm>

namespace check {
namespace {

double Low(const Candidate& c) {
    return c.offset - c.errorBound;
}
double High(const Candidate& c) {
    return c.offset + c.errorBound;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

Selection SelectSurvivors(const std::vector<Candidate>& candidates) {
    const std::size_t n = candidates.size();
    Selection selection;
    selection.survivor.assign(n, false);
    if (n == 0) {
        return selection;
    }
    // The most intervals meet at some interval's low end; the group meeting there is the
    // set of intervals that contain it. Few servers: checking every low end is enough.
    std::size_t largest = 0;
    std::vector<std::vector<bool>> groups;
    for (const Candidate& at : candidates) {
        const double point = Low(at);
        std::vector<bool> group(n, false);
        std::size_t size = 0;
        for (std::size_t j = 0; j < n; ++j) {
            if (Low(candidates[j]) <= point && point <= High(candidates[j])) {
                group[j] = true;
                ++size;
            }
        }
        if (size > largest) {
            largest = size;
            groups.clear();
        }
        if (size == largest) {
            groups.push_back(group);
        }
    }
    for (std::size_t j = 0; j < n; ++j) {
        selection.survivor[j] = std::all_of(groups.begin(), groups.end(),
                                            [j](const std::vector<bool>& g) { return g[j]; });
    }

    std::vector<double> offsets;
    for (std::size_t j = 0; j < n; ++j) {
        if (selection.survivor[j]) {
            offsets.push_back(candidates[j].offset);
        }
    }
    selection.survivors = offsets.size();
    selection.valid = 2 * selection.survivors > n;
    if (!offsets.empty()) {
        selection.offset = Median(offsets);
    }
    return selection;
}

}  // namespace check
