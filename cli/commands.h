#pragma once

#include <functional>
#include <iosfwd>

#include "engine/conversion_request.h"
#include "platform/file_system.h"

namespace tarnwhistle::cli {

// The exit codes scripts can rely on.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a refusal, or a file that could not be read or written
inline constexpr int kExitUsage = 2;   // the command line itself is wrong

// Where the commands work: the files, the two output streams, and a question asked
// while a long read or conversion runs: "has the user asked to stop?".
struct Environment {
  platform::FileSystem& fs;
  std::ostream& out;
  std::ostream& err;
  std::function<bool()> interrupted = [] { return false; };
};

// Says how one conversion of `source` into `output` went, and returns its exit code: a
// refusal or a failure on stderr (a failure with the name of the file it concerns),
// nothing when the user stopped it, "変換しました" on stdout when `say_done`.
int ReportConversion(const Environment& env, const ConversionOutcome& outcome, const std::string& source,
                     const std::string& output, bool say_done);

// Parses the command line and runs its command; returns the exit code.
//   detect FILE...                              the kind of each file
//   convert --to KIND [--from KIND] SRC OUT     a converted copy of SRC at OUT
//   info FILE...                                line-end counts over each whole file
int Run(int argc, const char* const argv[], const Environment& env);

}  // namespace tarnwhistle::cli
