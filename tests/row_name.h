#pragma once

// Names for the rows of a table run as a value-parameterised test, one test per row, so
// that `ctest -R` runs a single row and a failing row is reported by its name.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

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

// The name generator for INSTANTIATE_TEST_SUITE_P over `rows`: each row is named by
// `describe(row)`, and a name an earlier row has takes its row's number after it.
// (GoogleTest makes the generator afresh for every row, so it keeps no state.)
// A table made on the spot is held by the generator; a table of static rows, only named.
template <typename Rows, typename Describe>
auto NameRows(Rows&& rows, Describe describe) {
  using Held = std::conditional_t<std::is_lvalue_reference_v<Rows>, Rows, std::remove_cvref_t<Rows>>;
  return [held = std::tuple<Held>(std::forward<Rows>(rows)), describe](const auto& info) {
    const std::string name = RowName(describe(info.param));
    for (std::size_t i = 0; i < info.index; ++i) {
      if (RowName(describe(std::data(std::get<0>(held))[i])) == name) return name + "_" + std::to_string(info.index + 1);
    }
    return name;
  };
}

// The usual case: a row named by its `name` member.
template <typename Rows>
auto NameRowsByName(Rows&& rows) {
  return NameRows(std::forward<Rows>(rows), [](const auto& row) {
    if constexpr (std::is_pointer_v<std::remove_cvref_t<decltype(row)>>) {
      return std::string(row->name);
    } else {
      return std::string(row.name);
    }
  });
}

// The rows of a table of static rows by their addresses: GoogleTest copies a parameter
// several times for each test, which rows holding megabytes of text make every run of
// the suite pay for.
template <typename Row, std::size_t kSize>
std::vector<const Row*> EachRow(const Row (&rows)[kSize]) {
  std::vector<const Row*> each;
  for (const Row& row : rows) each.push_back(&row);
  return each;
}

// A row with a name is shown by it where GoogleTest lists or reports the row (a test
// file takes it with `using testkit::PrintTo;` in the rows' own namespace).
template <typename Row>
  requires requires(const Row& row) { std::string_view(row.name); }
void PrintTo(const Row& row, std::ostream* os) {
  *os << std::string_view(row.name);
}

}  // namespace tarnwhistle::testkit
