// tarnwhistle-cli: detects, converts and counts line endings from the command line.

#include <iostream>

#include "cli/commands.h"
#include "cli/interrupts.h"
#include "platform/posix_file_system.h"

int main(int argc, char* argv[]) {
  using namespace tarnwhistle;
  cli::InterruptCatcher interrupts;
  platform::PosixFileSystem files;
  int code = cli::Run(argc, argv, {files, std::cout, std::cerr, [&interrupts] { return interrupts.Caught(); }});
  interrupts.ResendIfCaught();
  return code;
}
