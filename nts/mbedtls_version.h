// The Mbed TLS version linked into the program, for reports.
#pragma once

#include <string>

namespace nts {

// "3.6.6": what the linked library says of itself (not its headers).
std::string MbedTlsVersion();

}  // namespace nts
