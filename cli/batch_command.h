#pragma once

#include <functional>
#include <string>
#include <vector>

#include "commands.h"
#include "engine/line_ending_kind.h"

namespace CLI {
class App;
}

namespace tarnwhistle::cli {

// What `convert` takes beyond --to and --from: the paths, and how to treat many.
struct BulkArguments {
  std::vector<std::string> paths;
  std::string output_folder;
  bool in_place = false;
  bool recursive = false;
  std::vector<std::string> include;
  bool dry_run = false;
  bool output_folder_given = false;
};

// Adds PATH... and -o, --in-place, -r, --include and --dry-run to `convert`.
void AddBulkOptions(CLI::App& convert, BulkArguments& args);

// Runs `convert` in the form its command line asks for:
//   SRC OUT                one file into another, by `convert_pair`
//   - OUT, SRC -, - -      standard input and output as a filter in a pipe
//   -o DIR PATH...         many files under DIR, mirroring the folders given
//   --in-place PATH...     many files, each replaced by its conversion
int RunConvert(const Environment& env, LineEndingKind to, LineEndingKind from, const BulkArguments& args,
               const std::function<int(const std::string& source, const std::string& output)>& convert_pair);

}  // namespace tarnwhistle::cli
