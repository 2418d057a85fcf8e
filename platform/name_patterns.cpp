#include "name_patterns.h"

#include <fnmatch.h>

#include <algorithm>

namespace tarnwhistle::platform {

bool NameMatches(std::string_view name, const std::vector<std::string>& patterns) {
  if (patterns.empty()) return true;
  const std::string text(name);
  return std::any_of(patterns.begin(), patterns.end(),
                     [&text](const std::string& pattern) { return ::fnmatch(pattern.c_str(), text.c_str(), 0) == 0; });
}

}  // namespace tarnwhistle::platform
