#include <gtest/gtest.h>

#include "cli/printable_name.h"

namespace tarnwhistle {
namespace {

TEST(PrintableName, EscapesWhatCouldForgeALineOrReachTheTerminal) {
  const std::pair<std::string, std::string> kCases[] = {
      {"plain.txt", "plain.txt"},
      {"日本語 の 名前.txt", "日本語 の 名前.txt"},
      {"evil: MS-DOS\nother.txt", "evil: MS-DOS\\nother.txt"},
      {"tab\tcr\r", "tab\\tcr\\r"},
      {"\x1b[31mred", "\\x1b[31mred"},
      {"back\\slash", "back\\\\slash"},
      {"bad\xff.txt", "bad\\xff.txt"},
      {"\xc2\x9b" "csi", "\\xc2\\x9bcsi"},          // a C1 control in UTF-8
      {"\xe6\x97", "\\xe6\\x97"},                  // a character cut short
      {"\xc0\xaf", "\\xc0\\xaf"},                  // an overlong "/"
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},         // a surrogate
      {std::string("nul\0", 4), "nul\\x00"},
      {"del\x7f", "del\\x7f"},
  };
  for (const auto& [name, printed] : kCases) EXPECT_EQ(cli::PrintableName(name), printed) << printed;
}

}  // namespace
}  // namespace tarnwhistle
