#pragma once

#include <string>
#include <vector>

#include "commands.h"
#include "walk_options.h"
#include "engine/line_ending_kind.h"

namespace CLI {
class App;
}

namespace tarnwhistle::cli {

// What `check` takes.
struct CheckArguments {
  LineEndingKind expected = LineEndingKind::None;  // -t; None: from EditorConfig, or mixed files only
  bool editorconfig = false;                       // --editorconfig: files it says nothing of are skipped
  std::vector<std::string> paths;
  bool recursive = false;
  std::vector<std::string> include;
  bool verbose = false;
  std::string format = "text";
  WalkArguments walk;
};

CLI::App* AddCheckCommand(CLI::App& app, CheckArguments& args, bool ja = false);

// Reads each file whole and tells those whose line ends are not what they should be:
// exit 0 when every file agrees, 1 when one does not or cannot be read.
int RunCheck(const Environment& env, const CheckArguments& args);

}  // namespace tarnwhistle::cli
