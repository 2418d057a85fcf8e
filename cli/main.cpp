// tarnwhistle-cli: detects, converts and counts line endings from the command line.

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <iostream>

#include "cli/commands.h"
#include "cli/language.h"
#include "platform/interrupts.h"
#include "platform/posix_file_system.h"
#include "platform/standard_streams.h"

namespace {

// Started with 0, 1 or 2 closed, the tool's own files would take those numbers and
// "変換しました" would be written into the output. /dev/null takes them instead, opened
// the wrong way round so that printing there fails and is reported, as on a closed stream.
void OccupyClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    // The lowest free number is `fd` itself: those below it are open by now.
    if (::fcntl(fd, F_GETFD) < 0) ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  using namespace tarnwhistle;
  OccupyClosedStandardStreams();
  // A closed pipe on stdout is a failed print (reported, see Run), not a death.
  std::signal(SIGPIPE, SIG_IGN);
  platform::RaiseOpenFileLimit();
  platform::InterruptCatcher interrupts;
  platform::PosixFileSystem files;
  const cli::Environment environment{files,
                                     std::cout,
                                     std::cerr,
                                     interrupts.Token(),
                                     platform::StandardInput,
                                     platform::StandardOutput,
                                     platform::StandardOutputFile,
                                     platform::StandardInputFile,
                                     cli::JapaneseLocale()};
  const int code = cli::Run(argc, argv, environment);
  // Work that completed (an output in place) ends with its own exit code even when a
  // signal came at its very end; anything else ends by the signal.
  if (code != cli::kExitOk) interrupts.ResendIfCaught();
  return code;
}
