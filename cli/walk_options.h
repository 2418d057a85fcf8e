#pragma once

#include <string>
#include <vector>

#include "commands.h"

namespace CLI {
class App;
}

namespace tarnwhistle::cli {

// What a walk of many files takes besides its paths: names never to take, and more paths
// read from a file or standard input.
struct WalkArguments {
  std::vector<std::string> excluded;
  std::string files_from;  // "" for none, "-" for standard input
  bool null = false;       // the names in files_from end in NUL, not in a line break
};

// Adds --exclude, --files-from and --null to `command`.
void AddWalkOptions(CLI::App& command, WalkArguments& args, bool ja = false);

// Appends the paths --files-from names to `paths`. kExitOk, or the exit code after saying
// why not (a wrong command line, or a list that cannot be read).
int ReadFilesFrom(const Environment& env, std::string_view command, const WalkArguments& args,
                  std::vector<std::string>& paths);

}  // namespace tarnwhistle::cli
