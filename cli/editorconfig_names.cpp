#include "editorconfig_rules.h"

#include <algorithm>
#include <cctype>

// What no library is needed for: the messages, and what the sections of a .editorconfig
// can tell apart, read from its text.

namespace tarnwhistle::cli {
namespace {

// Whether `text` holds none of the characters that make a glob of it.
bool Literal(std::string_view text) { return text.find_first_of("*?[]{}\\,") == std::string_view::npos; }

// Adds one alternative of a section name's last part to `classes`: a name, or "*" (or
// "**") and an end. False when it is neither.
bool AddAlternative(std::string_view part, NameClasses& classes) {
  if (part.empty()) return false;
  if (Literal(part)) {
    classes.names.insert(std::string(part));
    return true;
  }
  std::size_t stars = 0;
  while (stars < part.size() && part[stars] == '*') ++stars;
  if (stars == 0 || stars > 2 || !Literal(part.substr(stars))) return false;
  classes.ends.insert(std::string(part.substr(stars)));
  return true;
}

// Reads one section name into `classes`; false when it is beyond the reading.
bool AddSection(std::string_view section, NameClasses& classes) {
  const std::size_t slash = section.rfind('/');
  if (slash != std::string_view::npos) classes.slash = true;
  if (slash != std::string_view::npos && section.substr(0, slash).find_first_of("?[]{}\\,") != std::string_view::npos) {
    return false;
  }
  const std::string_view last = slash == std::string_view::npos ? section : section.substr(slash + 1);
  const std::size_t open = last.find('{');
  if (open == std::string_view::npos) return AddAlternative(last, classes);
  // One pair of braces, at the end: a head ("", "*" or "*.") and alternatives.
  if (last.back() != '}' || last.find('{', open + 1) != std::string_view::npos ||
      last.find('}') != last.size() - 1 || last.find("..") != std::string_view::npos) {
    return false;
  }
  const std::string_view head = last.substr(0, open);
  std::string_view inside = last.substr(open + 1, last.size() - open - 2);
  for (;;) {
    const std::size_t comma = inside.find(',');
    const std::string alternative = std::string(head) + std::string(inside.substr(0, comma));
    if (!AddAlternative(alternative, classes)) return false;
    if (comma == std::string_view::npos) return true;
    inside.remove_prefix(comma + 1);
  }
}

}  // namespace

std::string Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(" \t\r") - first + 1));
}

std::string SkippedMessage(const EditorConfigRule& rule) {
  return rule.note.empty() ? "EditorConfig に end_of_line がないため飛ばしました"
                           : "EditorConfig の " + rule.note + " は使えないため飛ばしました";
}

void NameClasses::Read(std::string_view text) {
  std::size_t at = 0;
  while (known && at < text.size()) {
    std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = text.size();
    const std::string line = Trim(text.substr(at, end - at));
    at = end + 1;
    if (line.empty() || line[0] != '[') continue;
    if (line.back() != ']' || line.find_first_of("#;") != std::string::npos ||
        !AddSection(std::string_view(line).substr(1, line.size() - 2), *this)) {
      known = false;
    }
  }
}

void NameClasses::Add(const NameClasses& other) {
  known = known && other.known;
  slash = slash || other.slash;
  names.insert(other.names.begin(), other.names.end());
  ends.insert(other.ends.begin(), other.ends.end());
}

std::string NameClasses::Of(std::string_view name) const {
  std::string key;
  key.reserve(names.size() + ends.size());
  for (const std::string& whole : names) key += name == whole ? '1' : '0';
  for (const std::string& end : ends) key += name.ends_with(end) ? '1' : '0';
  return key;
}

}  // namespace tarnwhistle::cli
