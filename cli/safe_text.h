// Text that came from elsewhere (a server's codes, a name the user typed) made safe to
// print: a terminal, a monitoring system or a JSON reader must see only what it means.
#pragma once

#include <string>

// For the text report and the plugin line: control characters (C0, DEL, C1), bytes that
// are not UTF-8 and '|' (which starts performance data for a monitoring system) become '?';
// valid UTF-8 otherwise passes through.
std::string PrintableText(const std::string& text);

// A JSON string literal: valid UTF-8 passes through unchanged, quotes, backslashes and
// control characters are escaped, and a byte that is not UTF-8 is escaped as the Latin-1
// character it would be, so any input makes valid JSON.
std::string JsonString(const std::string& text);

// value as a plain decimal number ([-0-9.], no exponent) with as few digits as give back
// exactly value: what monitoring systems accept as a threshold.
std::string PlainDecimal(double value);
