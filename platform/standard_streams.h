#pragma once

#include <memory>

#include "file_system.h"

namespace tarnwhistle::platform {

// The process's standard input and output as file handles, for a command used as a
// filter in a pipe. Neither closes its descriptor: the process owns them.
std::unique_ptr<ReadHandle> StandardInput();
std::unique_ptr<WriteHandle> StandardOutput();

}  // namespace tarnwhistle::platform
