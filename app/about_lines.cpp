#include "app/about_lines.h"

namespace about {

std::vector<std::string> AboutLines(const std::string& contact) {
    return {
        "             QUILLON v1.2",
        "",
        std::string(12, ' ') + "Designed by the Quillon team",
        std::string(23, ' ') + contact,
    };
}

}  // namespace about
