// The server list file: one server name per line, offered in the server box in file order.
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"

// The entries of a list file's bytes, read as a text-mode stream on Windows reads them:
// CR LF counts as LF and a ^Z (0x1A) ends the text. A line whose first character is '#' is
// a comment and dropped; every other line keeps its leading white space, loses its
// trailing white space, and is an entry even when that leaves it empty. A NUL byte ends
// the text of its line (the rest of that line is skipped).
std::vector<std::string> ParseServerList(const std::string& bytes);

// Reads and parses the list file at path. FALSE (last error set) when the file does not
// exist or cannot be read; such a file counts as absent and entries is left alone.
BOOL ReadServerList(const std::string& path, std::vector<std::string>* entries);
