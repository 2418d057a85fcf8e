#pragma once

#include <string>
#include <string_view>

namespace tarnwhistle::cli {

// `name` as it can be printed on one line of a terminal: control bytes, backslashes and
// bytes that are not valid UTF-8 are written C-style (\n, \t, \x1b, \xff, \\), so that a
// file name can neither forge another result line nor send escape sequences.
std::string PrintableName(std::string_view name);

// `text` as a JSON string, quotes included. A byte that is not UTF-8 is written \udcXX
// (XX the byte), as Python's surrogateescape reads it back, so that any name survives.
std::string JsonString(std::string_view text);

}  // namespace tarnwhistle::cli
