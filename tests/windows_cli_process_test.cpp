// The built tarnwhistle-cli.exe run as a Windows shell runs it (under wine in
// ./test.sh), for what only a real process shows: the command line and the console in
// Unicode, standard streams that carry bytes untouched, Windows' paths, and Ctrl+Break.

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/messages.h"
#include "row_name.h"
#include "temp_dir.h"

namespace tarnwhistle {
namespace {

using testkit::PrintTo;
using testkit::ReadAll;
using testkit::TempDir;

// What Windows reports for a process ended by Ctrl+C or Ctrl+Break.
constexpr DWORD kInterruptedExit = 0xC000013A;

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size() + 1, L'\0');
  wide.resize(static_cast<std::size_t>(::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(),
                                                            static_cast<int>(wide.size()))) - 1);
  return wide;
}

// The tool beside this test program, where the build puts both.
std::wstring ToolPath() {
  wchar_t self[MAX_PATH];
  std::wstring path(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"tarnwhistle-cli.exe";
}

struct Ran {
  DWORD exit_code = ~DWORD{0};
  bool hung = false;
  bool interrupted = false;  // Ctrl+Break was sent
  std::string out;
  std::string err;
};

std::string Drain(HANDLE pipe) {
  std::string bytes;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(pipe, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
  return bytes;
}

// Runs the tool in `folder` with `args` (quoted as CommandLineToArgvW reads them), `input`
// on its standard input; with `interrupt`, Ctrl+Break is sent once it waits for more.
Ran RunTool(const std::string& folder, const std::vector<std::string>& args, const std::string& input = "",
            bool interrupt = false) {
  std::wstring line = L"\"" + ToolPath() + L"\"";
  for (const std::string& arg : args) line += L" \"" + Wide(arg) + L"\"";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE in_read, in_write, out_read, out_write, err_read, err_write;
  ::CreatePipe(&in_read, &in_write, &inherit, 0);
  ::CreatePipe(&out_read, &out_write, &inherit, 0);
  ::CreatePipe(&err_read, &err_write, &inherit, 0);
  for (HANDLE ours : {in_write, out_read, err_read}) ::SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = in_read;
  start.hStdOutput = out_write;
  start.hStdError = err_write;
  PROCESS_INFORMATION process{};
  Ran outcome;
  const std::wstring where = Wide(folder);
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr, where.c_str(),
                        &start, &process)) {
    return outcome;
  }
  for (HANDLE theirs : {in_read, out_write, err_write}) ::CloseHandle(theirs);
  std::thread out([&] { outcome.out = Drain(out_read); });
  std::thread err([&] { outcome.err = Drain(err_read); });
  DWORD written = 0;
  ::WriteFile(in_write, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
  if (interrupt) {
    ::Sleep(1000);
    outcome.interrupted = ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, process.dwProcessId) != 0;
  }
  ::CloseHandle(in_write);
  outcome.hung = ::WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0;
  if (outcome.hung) ::TerminateProcess(process.hProcess, 1);
  DWORD code = 0;
  ::GetExitCodeProcess(process.hProcess, &code);
  outcome.exit_code = code;
  out.join();
  err.join();
  for (HANDLE h : {out_read, err_read, process.hProcess, process.hThread}) ::CloseHandle(h);
  return outcome;
}

// Each command line, what it prints and how it ends. The files: 日本語.txt (LF),
// sub/mac.txt (CR) and フォルダー/b.txt (CR LF).
struct CliLine {
  const char* name;
  std::vector<std::string> args;
  std::string input;
  DWORD exit_code;
  std::string out;
  std::string err;
  std::string made;  // a file the run writes, and what it must hold
  std::string holds;
};

std::vector<CliLine> CliLines() {
  const std::string missing(messages::Text(Outcome::SourceMissing));
  const std::string converted = std::string(messages::Text(Outcome::Ok)) + "\n";
  return {
      // An argument read in the ANSI code page comes as "???.txt".
      {"a Japanese name", {"detect", "日本語.txt"}, "", 0, "UNIX\n", "", "", ""},
      {"a Japanese message", {"detect", "無い.txt"}, "", 1, "", "無い.txt: " + missing + "\n", "", ""},
      // Standard streams in text mode make each \n \r\n, and take \r\n in as \n.
      {"a filter's bytes", {"convert", "--to", "dos", "-", "-"}, "a\nb\r\n", 0, "a\r\nb\r\n", "", "", ""},
      {"a filter's bytes, the other way", {"convert", "--to", "unix", "-", "-"}, "a\r\nb\r\n", 0, "a\nb\n", "", "", ""},
      // Windows' separator, and a drive's own form of a path.
      {"backslashes", {"convert", "--to", "unix", "sub\\mac.txt", "sub\\out.txt"}, "", 0, converted, "", "sub/out.txt",
       "x\ny\n"},
      // A batch's folder below the output folder is named from the path as given.
      {"a Japanese folder", {"convert", "--to", "unix", "-o", "出力", "フォルダー"}, "", 0, "フォルダー/b.txt: " + converted,
       "変換 1・変換不要 0・変換できません 0・失敗 0\n",
       "出力/フォルダー/b.txt", "x\ny\n"},
      // Patterns matched as Windows users expect names to be: whatever their case.
      {"a pattern in another case", {"convert", "--to", "unix", "-o", "out", "--include", "[A-C].TXT", "フォルダー"}, "", 0,
       "フォルダー/b.txt: " + converted, "変換 1・変換不要 0・変換できません 0・失敗 0\n", "out/フォルダー/b.txt", "x\ny\n"},
  };
}

class WindowsCliLine : public ::testing::TestWithParam<CliLine> {};

TEST_P(WindowsCliLine, NamesMessagesAndBytesComeThroughWhole) {
  const CliLine& c = GetParam();
  TempDir dir;
  // Paths in UTF-16: std::ofstream would take a std::string in the ANSI code page.
  std::filesystem::create_directory(Wide(dir / "sub"));
  std::filesystem::create_directory(Wide(dir / "フォルダー"));
  for (const auto& [name, bytes] : {std::pair{"日本語.txt", "x\ny\n"}, {"sub/mac.txt", "x\ry\r"}, {"フォルダー/b.txt", "x\r\ny\r\n"}}) {
    std::ofstream(std::filesystem::path(Wide(dir / name)), std::ios::binary) << bytes;
  }
  const Ran run = RunTool(dir.path(), c.args, c.input);
  EXPECT_FALSE(run.hung);
  EXPECT_EQ(run.exit_code, c.exit_code);
  EXPECT_EQ(run.out, c.out);
  EXPECT_EQ(run.err, c.err);
  if (!c.made.empty()) {
    std::ifstream made(std::filesystem::path(Wide(dir / c.made)), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(made), {}), c.holds);
  }
}

INSTANTIATE_TEST_SUITE_P(, WindowsCliLine, ::testing::ValuesIn(CliLines()), testkit::NameRowsByName(CliLines()));

// Ctrl+Break while the tool waits for its input ends it as Windows ends an interrupted
// process, and OUT is as it was, with nothing beside it.
TEST(WindowsCliProcess, CtrlBreakEndsTheToolAndLeavesNoTrace) {
  TempDir dir;
  dir.Write("out.txt", "old\n");
  const Ran run = RunTool(dir.path(), {"convert", "--to", "dos", "-", "out.txt"}, "a\n", true);
  if (!run.interrupted) GTEST_SKIP() << "no console to send Ctrl+Break through (wine runs the tests without one)";
  EXPECT_FALSE(run.hung);
  EXPECT_EQ(run.exit_code, kInterruptedExit);
  EXPECT_EQ(ReadAll(dir / "out.txt"), "old\n");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"out.txt"});
}

}  // namespace
}  // namespace tarnwhistle
