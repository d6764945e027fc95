// This program's release date: the source date of its package (the last commit's time),
// built in. No correct clock reads earlier, so no server may set it earlier.
#pragma once

#include <cstdint>

namespace check {

// Unix seconds, UTC.
std::int64_t ReleaseDate();

}  // namespace check
