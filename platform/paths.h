#pragma once

// std::filesystem reads a std::string in the system's narrow encoding: on Linux the bytes
// as they are, on Windows the ANSI code page, which mangles the UTF-8 this program keeps
// its Windows paths in (フォルダー would come back as mojibake). Paths go through these.

#include <filesystem>
#include <string>

namespace tarnwhistle::platform {

std::filesystem::path PathOf(const std::string& text);
// The path's text, with / between its names on every system.
std::string TextOf(const std::filesystem::path& path);

}  // namespace tarnwhistle::platform
