#pragma once

// Names for the rows of a table run as a value-parameterised test, one test per row, so
// that `ctest -R` runs a single row and a failing row is reported by its name.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

namespace tarnwhistle::testkit {

// `text` as a test's name: each run of characters a name cannot hold becomes one '_',
// and a long text is cut at a word's end.
inline std::string RowName(std::string_view text) {
  constexpr std::size_t kLongest = 72;
  std::string name;
  for (char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (plain) {
      name += c;
    } else if (!name.empty() && name.back() != '_') {
      name += '_';
    }
  }
  if (name.size() > kLongest) {
    const std::size_t cut = name.rfind('_', kLongest);
    name.resize(cut == std::string::npos || cut == 0 ? kLongest : cut);
  }
  while (!name.empty() && name.back() == '_') name.pop_back();
  return name.empty() ? "row" : name;
}

// The name generator for INSTANTIATE_TEST_SUITE_P: each row is named by `describe(row)`,
// and a name met before in the table takes its row's number after it.
template <typename Row, typename Describe>
auto NameRows(Describe describe) {
  return [describe, seen = std::make_shared<std::map<std::string, int>>()](
             const ::testing::TestParamInfo<Row>& info) {
    std::string name = RowName(describe(info.param));
    if ((*seen)[name]++ > 0) name += "_" + std::to_string(info.index + 1);
    return name;
  };
}

// The usual case: a row named by its `name` member.
template <typename Row>
auto NameRowsByName() {
  return NameRows<Row>([](const Row& row) { return std::string(row.name); });
}

// A row with a name is shown by it where GoogleTest lists or reports the row (a test
// file takes it with `using testkit::PrintTo;` in the rows' own namespace).
template <typename Row>
  requires requires(const Row& row) { std::string_view(row.name); }
void PrintTo(const Row& row, std::ostream* os) {
  *os << std::string_view(row.name);
}

}  // namespace tarnwhistle::testkit
