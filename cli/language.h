#pragma once

#include <string>
#include <string_view>

namespace CLI {
class App;
}

namespace tarnwhistle::cli {

// Whether the user's locale asks for Japanese: the first of LC_ALL, LC_MESSAGES and LANG
// that is set, as gettext reads them, names a Japanese locale ("ja", "ja_JP.UTF-8").
// Written by hand: std::locale would need the locale installed only to tell its name.
bool JapaneseLocale();

// `english`, or `japanese` when the command line speaks Japanese: the help, the usage
// errors. (Results and messages are Japanese either way, as the window shows them.)
inline std::string_view Say(bool in_japanese, std::string_view english, std::string_view japanese) {
  return in_japanese ? japanese : english;
}

// The line after every usage error.
std::string_view RunWithHelp(bool in_japanese);

// Makes CLI11's own words Japanese: the help's headings and its help and version flags,
// and the texts of its usage errors. Called on the main command before its subcommands
// are added, which take its formatter, help flag and option defaults.
void SpeakJapanese(CLI::App& app);

}  // namespace tarnwhistle::cli
