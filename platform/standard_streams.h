#pragma once

#include <memory>
#include <optional>

#include "file_system.h"

namespace tarnwhistle::platform {

// The process's standard input and output, for a command used as a filter in a pipe.
// Neither closes its descriptor: the process owns them. Waiting for input ends at once,
// with kStopped, when an InterruptCatcher catches a signal.
std::unique_ptr<ByteSource> StandardInput();
std::unique_ptr<ByteSink> StandardOutput();

// The file standard output writes to, or standard input reads, when it is a regular
// file (a shell's redirection).
std::optional<FileIdentity> StandardOutputFile();
std::optional<FileIdentity> StandardInputFile();

}  // namespace tarnwhistle::platform
