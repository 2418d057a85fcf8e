#include <windows.h>

#include <algorithm>

#include "name_patterns.h"
#include "windows_text.h"

namespace tarnwhistle::platform {
namespace {

// The name as Windows compares names: in capitals, as NTFS folds them.
std::wstring Folded(std::string_view text) {
  std::wstring wide = Utf16(text);
  if (!wide.empty()) {
    ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), static_cast<int>(wide.size()), wide.data(),
                    static_cast<int>(wide.size()), nullptr, nullptr, 0);
  }
  return wide;
}

// fnmatch's *, ? and [...] (with ! or ^ for "none of", and ranges), on UTF-16 units.
// Hand-written: Windows has no fnmatch, and PathMatchSpec knows no [...]. A backslash is
// a separator on Windows, never in a name, so it escapes nothing.
bool Matches(std::wstring_view pattern, std::wstring_view name) {
  std::size_t p = 0, n = 0, star = std::wstring_view::npos, resume = 0;
  while (n < name.size()) {
    bool advanced = false;
    if (p < pattern.size()) {
      const wchar_t c = pattern[p];
      if (c == L'*') {
        star = ++p;
        resume = n;
        continue;
      }
      if (c == L'?') {
        ++p, ++n;
        advanced = true;
      } else if (c == L'[') {
        std::size_t q = p + 1;
        const bool negate = q < pattern.size() && (pattern[q] == L'!' || pattern[q] == L'^');
        if (negate) ++q;
        bool found = false, closed = false;
        for (bool first = true; q < pattern.size(); first = false) {
          if (pattern[q] == L']' && !first) {
            closed = true;
            break;
          }
          wchar_t low = pattern[q], high = low;
          if (q + 2 < pattern.size() && pattern[q + 1] == L'-' && pattern[q + 2] != L']') {
            high = pattern[q + 2];
            q += 3;
          } else {
            ++q;
          }
          if (low <= name[n] && name[n] <= high) found = true;
        }
        if (closed && found != negate) {
          p = q + 1, ++n;
          advanced = true;
        } else if (!closed && name[n] == L'[') {  // an unclosed [ is itself
          ++p, ++n;
          advanced = true;
        }
      } else if (c == name[n]) {
        ++p, ++n;
        advanced = true;
      }
    }
    if (advanced) continue;
    if (star == std::wstring_view::npos) return false;
    p = star;
    n = ++resume;
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

}  // namespace

// Case does not count, as it does not for Windows' own names.
bool NameMatches(std::string_view name, const std::vector<std::string>& patterns) {
  if (patterns.empty()) return true;
  const std::wstring folded = Folded(name);
  return std::any_of(patterns.begin(), patterns.end(),
                     [&folded](const std::string& pattern) { return Matches(Folded(pattern), folded); });
}

}  // namespace tarnwhistle::platform
