// tarnwhistle-cli.exe: the same commands on Windows. The arguments come from the
// command line as Windows keeps it, in UTF-16, so that Japanese names come through
// whole whatever the code page; messages go out in UTF-8, which the console is set to.

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/language.h"
#include "platform/interrupts.h"
#include "platform/standard_streams.h"
#include "platform/windows_file_system.h"

namespace {

std::string Utf8(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), size, nullptr, nullptr);
  narrow.resize(narrow.size() - 1);
  return narrow;
}

}  // namespace

int main() {
  using namespace tarnwhistle;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8(wide[i]));
  ::LocalFree(wide);
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  argv.push_back(nullptr);

  ::SetConsoleOutputCP(CP_UTF8);
  // The same bytes as on Linux: no \n made \r\n on the way out.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  _setmode(_fileno(stdin), _O_BINARY);

  platform::InterruptCatcher interrupts;
  platform::WindowsFileSystem files;
  const cli::Environment environment{files,
                                     std::cout,
                                     std::cerr,
                                     interrupts.Token(),
                                     platform::StandardInput,
                                     platform::StandardOutput,
                                     platform::StandardOutputFile,
                                     platform::StandardInputFile,
                                     cli::JapaneseLocale()};
  const int code = cli::Run(static_cast<int>(argv.size()) - 1, argv.data(), environment);
  // As on Linux: work that completed ends with its own code even when Ctrl+C came at its
  // very end; anything else ends as Ctrl+C ends a process.
  std::cout.flush();
  std::cerr.flush();
  if (code != cli::kExitOk) interrupts.ResendIfCaught();
  return code;
}
