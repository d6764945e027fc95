// A --ca file judged before any traffic: one that cannot be read, or holds no certificate,
// is the command line's fault, not every server's.
#pragma once

#include <string>

namespace nts {

// Empty when path can be read and every certificate in it parses (what the key exchange
// needs of it); otherwise why not, naming the file.
std::string CaFileProblem(const std::string& path);

}  // namespace nts
