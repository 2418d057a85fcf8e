#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwhistle::platform {

// True when `name` matches one of the shell patterns (*, ?, [...]); an empty list
// matches every name. Case counts, as it does for the file system; on Windows it does
// not, as it does not for Windows' names.
bool NameMatches(std::string_view name, const std::vector<std::string>& patterns);

}  // namespace tarnwhistle::platform
