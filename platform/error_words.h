// The last-error codes the program reports, in words: one table for the text report, JSON and
// the classic form's --verbose line, so that a reason reads the same wherever it is shown.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace platform {

// What code means for whoever reads the report ("nothing serves that port"); on POSIX an
// errno value the table does not know is described by the C library; otherwise empty.
std::string ErrorWords(DWORD code);

// "nothing serves that port (last-error code 10061)", or "last-error code N" without words.
std::string ErrorReason(DWORD code);

}  // namespace platform
