#include "command_line.h"

#include <CLI/CLI.hpp>
#include <sstream>

#include "engine/messages.h"

namespace tarnwhistle::app {

CommandLine ParseCommandLine(int argc, const char* const argv[]) {
  CLI::App parser("Detects the line endings of a text file (CR LF, LF or CR) and writes a converted copy.",
                  "tarnwhistle");
  CommandLine line;
  parser.set_version_flag("-V,--version", std::string(messages::kVersionText));
  parser.add_flag("--batch", line.batch, "Open the batch window (一括変換) with the PATHs, files and folders, in it");
  parser.add_option("FILE", line.files, "A file to open, as File > Open would; several open the batch window")
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
