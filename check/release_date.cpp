#include "check/release_date.h"

#include "quillon_release_date.h"

namespace check {

std::int64_t ReleaseDate() {
    return QUILLON_RELEASE_EPOCH;
}

}  // namespace check
