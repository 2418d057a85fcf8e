#pragma once

#include <string>
#include <vector>

#include "commands.h"
#include "walk_options.h"
#include "engine/line_ending_kind.h"

namespace CLI {
class App;
class Validator;
}

namespace tarnwhistle::cli {

// What `convert` takes.
struct ConvertArguments {
  LineEndingKind to = LineEndingKind::None;
  LineEndingKind from = LineEndingKind::None;  // None: decide from the source's bytes
  std::vector<std::string> paths;
  std::string output_folder;
  bool output_folder_given = false;
  bool in_place = false;
  bool recursive = false;
  std::vector<std::string> include;
  bool dry_run = false;
  bool keep_date = false;      // each output takes its source's modification time
  bool quiet = false;          // nothing said of what went well
  bool editorconfig = false;   // each file's target from its EditorConfig, in place of --to
  WalkArguments walk;
};

// Checks a kind's name (dos, unix, mac, crlf, lf, cr, in any case) and gives CLI11 its code.
CLI::Validator KindName(bool ja = false);

// Adds `convert` and its options to `app`, described in Japanese when `ja`.
CLI::App* AddConvertCommand(CLI::App& app, ConvertArguments& args, bool ja = false);

// Runs `convert` in the form its command line asks for:
//   SRC OUT                one file into another
//   - OUT, SRC -, - -      standard input and output as a filter in a pipe
//   -o DIR PATH...         many files below DIR, each folder named under its own name
//   --in-place PATH...     many files, each replaced by its conversion
int RunConvert(const Environment& env, const ConvertArguments& args);

}  // namespace tarnwhistle::cli
