#include "language.h"

#include <CLI/CLI.hpp>
#include <cstdlib>

namespace tarnwhistle::cli {
namespace {

// CLI11's error in Japanese: the common ones in words of their own, any other with its
// English text after a Japanese line, rather than a wrong translation of it.
std::string JapaneseError(const CLI::Error& e) {
  const std::string what = e.what();
  constexpr std::string_view kIsRequired = " is required";
  if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr) {
    if (what.find("subcommand") != std::string::npos) return "コマンドを指定してください";
    if (what.ends_with(kIsRequired)) return what.substr(0, what.size() - kIsRequired.size()) + " を指定してください";
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr && what.ends_with(" missing")) {
    return what.substr(0, what.find(':')) + " の値を指定してください";
  }
  if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr && what.find(": ") != std::string::npos) {
    return "余分な引数です: " + what.substr(what.find(": ") + 2);
  }
  // A kind that is not one: our own validator's words, already Japanese.
  if (dynamic_cast<const CLI::ValidationError*>(&e) != nullptr) return what;
  return "コマンドラインが正しくありません（" + what + "）";
}

}  // namespace

bool JapaneseLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return std::string_view(value).starts_with("ja");
  }
  return false;
}

std::string_view RunWithHelp(bool in_japanese) {
  return Say(in_japanese, "Run with --help for more information.", "詳しくは --help を付けて実行してください。");
}

void SpeakJapanese(CLI::App& app) {
  const auto formatter = app.get_formatter();
  for (const auto& [label, japanese] : {std::pair{"Usage", "使い方"}, {"OPTIONS", "オプション"},
                                        {"SUBCOMMAND", "コマンド"}, {"Positionals", "引数"}, {"REQUIRED", "必須"}}) {
    formatter->label(label, japanese);
  }
  app.option_defaults()->group("オプション");
  app.set_help_flag("-h,--help", "このヘルプを表示して終了します");
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return JapaneseError(e) + "\n" + std::string(RunWithHelp(true)) + "\n";
  });
}

}  // namespace tarnwhistle::cli
