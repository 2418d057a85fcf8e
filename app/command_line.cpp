#include "command_line.h"

#include <CLI/CLI.hpp>
#include <sstream>

#include "cli/language.h"
#include "engine/messages.h"

namespace tarnwhistle::app {

CommandLine ParseCommandLine(int argc, const char* const argv[], bool japanese) {
  const auto say = [japanese](std::string_view english, std::string_view in_japanese) {
    return std::string(cli::Say(japanese, english, in_japanese));
  };
  CLI::App parser(say("Detects the line endings of a text file (CR LF, LF or CR) and writes a converted copy.",
                      "テキスト ファイルの改行（CR LF、LF、CR）を検出し、変換したコピーを書きます。"),
                  "tarnwhistle");
  if (japanese) cli::SpeakJapanese(parser);
  CommandLine line;
  parser.set_version_flag("-V,--version", std::string(messages::kVersionText),
                          say("Display program version information and exit", "バージョンを表示して終了します"));
  parser.add_flag("--batch", line.batch,
                  say("Open the batch window (一括変換) with the PATHs, files and folders, in it",
                      "ファイルとフォルダー PATH を入れた一括変換のウィンドウを開きます"));
  parser.add_option("FILE", line.files,
                    say("A file to open, as File > Open would; several open the batch window",
                        "ファイル > 開く のように開くファイル。複数なら一括変換のウィンドウを開きます"))
      ->type_name("FILE | PATH...");
  try {
    parser.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    std::ostringstream out, err;
    const int code = parser.exit(error, out, err);
    line.action = code != 0                                          ? CommandLine::Action::Fail
                  : dynamic_cast<const CLI::CallForVersion*>(&error) ? CommandLine::Action::PrintVersion
                                                                     : CommandLine::Action::PrintHelp;
    line.output = code != 0 ? err.str() : out.str();
    return line;
  }
  if (line.files.size() > 1) line.batch = true;
  return line;
}

}  // namespace tarnwhistle::app
