// The four lines that About types into the log pane.
#pragma once

#include <string>
#include <vector>

namespace about {

// Title, an empty line, the credit line and the contact line.
std::vector<std::string> AboutLines(const std::string& contact);

}  // namespace about
