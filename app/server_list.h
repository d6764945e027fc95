// The server list file: one server name per line, offered in the server box in file order.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/win_types.h"

// More is no list anyone keeps by hand: a larger file is read only this far, so that a
// stray or hostile file cannot hold the window back or exhaust memory. (Each entry costs
// the box some 50 us under Wine: 1,000 keep the window's start as quick as with a short list.)
constexpr std::size_t kServerListMaxBytes = 1 << 20;
constexpr std::size_t kServerListMaxLines = 1000;

// The entries of a list file's bytes, read as a text-mode stream on Windows reads them:
// CR LF counts as LF and a ^Z (0x1A) ends the text. A line whose first character is '#' is
// a comment and dropped; every other line keeps its leading white space, loses its
// trailing white space, and is an entry even when that leaves it empty. A NUL byte ends
// the text of its line (the rest of that line is skipped). Only the first
// kServerListMaxLines lines are read.
std::vector<std::string> ParseServerList(const std::string& bytes);

// Reads and parses the list file at path, at most its first kServerListMaxBytes (a line
// cut there is dropped). FALSE (last error set) when there is no regular file at path or
// it cannot be read; a directory or a device counts as absent, and entries is left alone.
BOOL ReadServerList(const std::string& path, std::vector<std::string>* entries);
