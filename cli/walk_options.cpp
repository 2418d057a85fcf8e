#include "walk_options.h"

#include <CLI/CLI.hpp>
#include <ostream>

#include "engine/messages.h"
#include "language.h"
#include "platform/file_system.h"

namespace tarnwhistle::cli {

void AddWalkOptions(CLI::App& command, WalkArguments& args, bool ja) {
  command
      .add_option("--exclude", args.excluded,
                  std::string(Say(ja,
                                  "Take no file and enter no folder whose name matches PATTERN (*, ?, [...]), named "
                                  "or met; may be repeated",
                                  "名前が PATTERN（*、?、[...]）に合うファイルは取らず、フォルダーには入りません"
                                  "（指定したものも、たどる途中のものも）。繰り返し指定できます")))
      ->type_name("PATTERN")
      ->allow_extra_args(false);
  command
      .add_option("--files-from", args.files_from,
                  std::string(Say(ja,
                                  "Take the paths listed in FILE too, one a line ('-': standard input), such as git "
                                  "ls-files prints them",
                                  "FILE に 1 行ずつ書かれたパスも取ります（'-' は標準入力）。git ls-files の出力の"
                                  "ように")))
      ->type_name("FILE");
  command.add_flag("--null,-z", args.null,
                   std::string(Say(ja, "The paths of --files-from end in NUL bytes (git ls-files -z), not lines",
                                   "--files-from のパスは改行でなく NUL バイトで区切られています（git ls-files -z）")));
}

int ReadFilesFrom(const Environment& env, std::string_view command, const WalkArguments& args,
                  std::vector<std::string>& paths) {
  if (args.files_from.empty()) {
    if (!args.null) return kExitOk;
    env.err << command << ": --null is for --files-from\nRun with --help for more information.\n";
    return kExitUsage;
  }
  std::unique_ptr<platform::ByteSource> input;
  if (args.files_from == "-") {
    input = env.input();
  } else if (auto opened = platform::OpenPathForRead(env.fs, args.files_from); opened) {
    input = std::move(opened.value);
  } else {
    Complain(env, args.files_from, messages::Describe({Outcome::SourceCannotOpen, opened.reason}));
    return kExitFailed;
  }
  const char end = args.null ? '\0' : '\n';
  std::string pending;
  std::uint8_t buffer[64 * 1024];
  const auto take = [&](std::string name) {
    // A list written on Windows ends its lines in CR LF; a name never ends in CR there.
    if (!args.null && name.ends_with('\r')) name.pop_back();
    if (!name.empty()) paths.push_back(std::move(name));
  };
  for (;;) {
    const auto got = input->Read(buffer);
    if (!got) {
      Complain(env, args.files_from, messages::Describe({Outcome::SourceReadFailed, got.reason}));
      return kExitFailed;
    }
    if (got.value == 0) break;
    for (std::size_t i = 0; i < got.value; ++i) {
      if (static_cast<char>(buffer[i]) != end) {
        pending += static_cast<char>(buffer[i]);
      } else {
        take(std::exchange(pending, {}));
      }
    }
  }
  take(std::move(pending));
  return kExitOk;
}

}  // namespace tarnwhistle::cli
