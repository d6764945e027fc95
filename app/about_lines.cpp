#include "app/about_lines.h"

#include "quillon_version.h"

namespace about {

std::vector<std::string> AboutLines(const std::string& contact) {
    return {
        "             QUILLON v" QUILLON_VERSION_SHORT,
        "",
        std::string(12, ' ') + "Designed by the Quillon team",
        std::string(23, ' ') + contact,
    };
}

}  // namespace about
