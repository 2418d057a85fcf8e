#pragma once

// Runs a program as a script would: in a folder, with its standard input fed from a
// pipe and its two output streams captured, and reports how it ended. One helper for
// every test that runs the built tools.

#include <sys/resource.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace tarnwhistle::testkit {

struct Invocation {
  std::string program{};
  std::vector<std::string> args{};
  std::string folder{};                    // where it runs
  bool folder_removed = false;             // removed (empty) once the tool runs in it
  std::string input{};                     // what its stdin reads before it ends
  rlim_t file_size_limit = RLIM_INFINITY;  // in bytes, as `ulimit -f` sets
  std::optional<uid_t> user{};             // act as this user (and its group), when running as root
  std::string stdout_file{};               // write stdout here instead of capturing it ("/dev/full")
  bool stdout_closed = false;              // start with stdout closed
  bool keep_input_open = false;            // stdin stays open, sending nothing, until the end
};

struct Ran {
  int exit_code = -1;  // -1 when ended by a signal; 126 when it could not be set up, 127 not run
  int signal = 0;
  bool hung = false;   // still running after the time allowed, and killed
  std::string out;
  std::string err;
};

// A running program.
class Process {
 public:
  explicit Process(const Invocation& run);
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  // Waits for the end, killing the program when it takes more than `seconds`.
  Ran Finish(int seconds = 20);

 private:
  TempDir logs_;
  pid_t pid_ = -1;
  int input_ = -1;  // the pipe's end that feeds stdin, while it is kept open
};

inline Ran Run(const Invocation& run, int seconds = 20) { return Process(run).Finish(seconds); }

}  // namespace tarnwhistle::testkit
