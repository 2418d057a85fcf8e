#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace tarnwhistle::cli {

// The exit codes scripts can rely on.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a refusal, or a file that could not be read or written
inline constexpr int kExitUsage = 2;   // the command line itself is wrong

// Where the commands work: the files, the standard streams, and a stop token that is
// requested when the user interrupts (Ctrl+C, kill, a logout). Tests run the commands
// in-process with a fake file system and string streams.
struct Environment {
  platform::FileSystem& fs;
  std::ostream& out;
  std::ostream& err;
  std::stop_token stop = {};
  // The standard input and output as byte streams, for `convert` as a filter in a pipe.
  std::function<std::unique_ptr<platform::ByteSource>()> input;
  std::function<std::unique_ptr<platform::ByteSink>()> output;
  // The file standard output writes to, when it is one: never to be the source too.
  std::function<std::optional<platform::FileIdentity>()> output_file = [] { return std::nullopt; };
  // The file standard input reads, when it is one.
  std::function<std::optional<platform::FileIdentity>()> input_file = [] { return std::nullopt; };
  // The help and the usage errors in Japanese (JapaneseLocale), else in English.
  bool japanese = false;
};

// "FILE: message" on standard error, the name as it can be printed on one line.
void Complain(const Environment& env, const std::string& file, std::string_view message);

// Parses the command line and runs its command; returns the exit code.
//   detect FILE...                   the kind of each file
//   info FILE...                     the kind, encoding and line-end counts of each whole file
//   convert --to KIND ...            see convert_command.h
int Run(int argc, const char* const argv[], const Environment& env);

}  // namespace tarnwhistle::cli
