#pragma once

#include <string>
#include <vector>

namespace tarnwhistle::app {

// What the window program's command line asks for. It is read from the bytes main()
// was given, before Qt sees any of them: file names are never taken for Qt's options.
struct CommandLine {
  enum class Action { OpenWindow, PrintHelp, PrintVersion, Fail };
  Action action = Action::OpenWindow;
  std::vector<std::string> files;  // OpenWindow: the files or folders named, as bytes
  bool batch = false;              // OpenWindow: open the batch window with `files`
  std::string output;              // what to print for the others: to stdout, or to stderr for Fail

  // What main() returns after printing: 0, or 2 for a wrong command line.
  int ExitCode() const { return action == Action::Fail ? 2 : 0; }
};

// `argv` as main() was given it, the program first. One file opens the main window on
// it; several, a folder, or --batch open the batch window with them. The help and the
// errors are in Japanese when `japanese` (cli::JapaneseLocale, as tarnwhistle-cli's).
CommandLine ParseCommandLine(int argc, const char* const argv[], bool japanese = false);

}  // namespace tarnwhistle::app
