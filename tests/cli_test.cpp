// tarnwhistle-cli's commands as a script sees them, run in-process on the in-memory
// file system: the exit code, what they print, and what they leave on the disk. The
// built binary itself is run by cli_process_test.cpp, for what needs a real process.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <regex>
#include <sstream>
#include <tuple>

#include "cli/commands.h"
#include "cli/language.h"
#include "cli/editorconfig_rules.h"
#include "cli/printable_name.h"
#include "engine/messages.h"
#include "fake_file_system.h"
#include "platform/charset_guess.h"
#include "row_name.h"

namespace tarnwhistle {
namespace {

using namespace std::string_literals;
using testkit::FakeFileSystem;
using testkit::Op;

class StringSource : public platform::ByteSource {
 public:
  explicit StringSource(std::string bytes) : bytes_(std::move(bytes)) {}
  platform::OrReason<std::size_t> Read(std::span<std::uint8_t> data) override {
    const std::size_t count = std::min(data.size(), bytes_.size() - at_);
    std::memcpy(data.data(), bytes_.data() + at_, count);
    at_ += count;
    return count;
  }

 private:
  std::string bytes_;
  std::size_t at_ = 0;
};

class StringSink : public platform::ByteSink {
 public:
  explicit StringSink(std::string& bytes) : bytes_(bytes) {}
  platform::Reason Write(std::span<const std::uint8_t> data) override {
    bytes_.append(reinterpret_cast<const char*>(data.data()), data.size());
    return platform::Reason::kNone;
  }

 private:
  std::string& bytes_;
};

struct Ran {
  int exit_code;
  std::string out;  // what was printed, then what went to standard output as bytes
  std::string err;
};

// `stdout_file`, `stdin_file`: the files standard output and input are redirected to or
// from, when they are files.
Ran RunCli(FakeFileSystem& fs, const std::vector<std::string>& args, const std::string& input = "",
               const std::string& stdout_file = "", const std::string& stdin_file = "",
               bool japanese = false) {
  std::ostringstream out, err;
  std::string piped;
  const auto identity = [&fs](const std::string& file) -> std::optional<platform::FileIdentity> {
    if (file.empty()) return std::nullopt;
    return fs.Stat(fs.Locate(file).value).identity;
  };
  const cli::Environment env{fs,
                             out,
                             err,
                             {},
                             [&input] { return std::make_unique<StringSource>(input); },
                             [&piped] { return std::make_unique<StringSink>(piped); },
                             [&] { return identity(stdout_file); },
                             [&] { return identity(stdin_file); },
                             japanese};
  std::vector<const char*> argv{"tarnwhistle-cli"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  const int code = cli::Run(static_cast<int>(argv.size()), argv.data(), env);
  return {code, out.str() + piped, err.str()};
}

const std::string kEvil = "evil: MS-DOS\nother\x1b[2J.txt";

void MakeFiles(FakeFileSystem& fs) {
  const std::pair<std::string, std::string> files[] = {
      {"dos.txt", "a\r\nb\r\n"},
      {"unix.txt", "a\nb\n"},
      {"mac.txt", "a\rb"},
      {"mixed.txt", "a\r\nb\nc\n" + std::string(1000, 'x') + "\rd\x1b\r\n"},
      {"binary.dat", "a\0\r\n"s},
      {"esc.txt", "\x01\r\n"},
      {"png.dat", "\x89PNG\r\n\x1a\n\0\0\0\rIHDR"s},
      {"long.txt", std::string(300, 'x') + "\r\n"},
      {"line.txt", "no break"},
      {"u16.txt", "\xff\xfe" "a\0\r\0\n\0b\0\n\0"s},
      {"jis.txt", "\x1b$B$3$s\x1b(B\r\n"},
      {"out.txt", "old output"},
      {kEvil, "a\nb\n"},
      {"src/dos.txt", "a\r\nb\r\n"},
      {"src/unix.txt", "a\nb\n"},
      {"src/image.bin", "\x01\x02\0\r\n"s},
      {"src/notes.md", "a\r\n"},
      {"src/sub/deeper.txt", "a\rb\r"},
      // Read by check by default and by --editorconfig; a section with a "/" matches
      // below this file's own folder only.
      {".editorconfig", "root = true\n[*]\nend_of_line = lf\n[*.md]\nend_of_line = CRLF\n[src/sub/**]\n"
                        "end_of_line = cr\n[{unix.txt,mixed.txt}]\nend_of_line = unset\n"},
      // A section name with "?": the names of this folder must each be asked about.
      {"ec/.editorconfig", "[d?s.txt]\nend_of_line = crlf\n"},
      {"ec/dos.txt", "a\r\n"},
      {"ec/mac.txt", "a\rb"},
      // A repository: git's own files are never touched, a hidden folder is walked.
      {"repo/.git/config", "a\r\n"},
      {"repo/.github/ci.yml", "a\r\n"},
      {"repo/a.txt", "a\r\n"},
      {"repo/vendor/x.txt", "a\r\n"},
      {"list.txt", "repo/a.txt\r\n\r\nsrc/unix.txt\r\n"},  // written on Windows, an empty line in it
      {"bad/.editorconfig", "root = true\n[*\nend_of_line = lf\n"},
      {"bad/x.txt", "a\n"},
  };
  for (const auto& [path, bytes] : files) {
    fs.AddDirectories(std::filesystem::path(path).parent_path().string());
    fs.AddFile(path, bytes);
  }
  fs.AddDirectory("sub");
  fs.AddSymlink("src/escape.txt", "../dos.txt");
}

std::string Says(const std::string& file, std::string_view message) { return file + ": " + std::string(message) + "\n"; }
std::string Says(const std::string& file, Outcome outcome, int error) {
  return Says(file, messages::Describe({outcome, platform::FromErrno(error)}));
}
std::string Line(std::string_view text) { return std::string(text) + "\n"; }

const std::string kConverted = Line(messages::Text(Outcome::Ok));
const std::string kNotText = messages::Describe({Outcome::NotConvertible, platform::Reason::kNulCharacter});
const std::string kBigDos = [] {
  std::string text;
  while (text.size() < 3 << 20) text += "a line of text, long enough\r\n";
  return text;
}();
const std::string kBigUnix = [] {
  std::string text = kBigDos;
  std::erase(text, '\r');
  return text;
}();

struct Case {
  std::vector<std::string> args;
  int exit_code;
  std::string out;
  std::string err;
  std::vector<std::pair<std::string, std::string>> after = {};  // files and what they hold; "<none>" for none
  std::string input = "";                                        // standard input
  std::optional<Op> fail = std::nullopt;                         // an operation that fails, with its usual reason
  std::string stdout_file = "";                                  // standard output redirected into this file
  std::string stdin_file = "";                                   // standard input read from this file
};

const Case kCases[] = {
    // detect and info
    {{"detect", "dos.txt"}, 0, "MS-DOS\n", ""},
    {{"detect", "unix.txt", "mac.txt", "binary.dat", "png.dat", "long.txt", "line.txt", "u16.txt", "jis.txt"},
     0,
     "unix.txt: UNIX\nmac.txt: MAC\nbinary.dat: BINARY\npng.dat: BINARY\nlong.txt: MS-DOS\nline.txt: NONE\n"
     "u16.txt: MS-DOS\njis.txt: MS-DOS\n",
     ""},
    {{"detect", "missing.txt", "sub", "dos.txt"}, 1, "dos.txt: MS-DOS\n",
     Says("missing.txt", messages::Text(Outcome::SourceMissing)) + Says("sub", Outcome::SourceCannotOpen, EISDIR)},
    {{"detect", kEvil, "mac.txt"}, 0, "evil: MS-DOS\\nother\\x1b[2J.txt: UNIX\nmac.txt: MAC\n", ""},
    {{"detect", "--null", kEvil, "mac.txt"}, 0, kEvil + "\0UNIX\0mac.txt\0MAC\0"s, ""},
    {{"info", "mixed.txt", "u16.txt"},
     0,
     "file: mixed.txt\ndetected: MS-DOS\nencoding: ASCII（推定）\ncrlf: 2\nlf: 2\ncr: 1\nmixed: yes\n"
     "control: yes, first at offset 1009\nnul: no\nbytes: 1012\n\n"
     "file: u16.txt\ndetected: MS-DOS\nencoding: UTF-16LE\ncrlf: 1\nlf: 1\ncr: 0\nmixed: yes\ncontrol: no\nnul: no\n"
     "bytes: 12\n",
     ""},
    {{"info", "-z", "jis.txt"},
     0,
     "file: jis.txt\0detected: MS-DOS\0encoding: ISO-2022-JP（推定）\0crlf: 1\0lf: 0\0cr: 0\0mixed: no\0control: no\0nul: no\0"
     "bytes: 12\0"s,
     ""},
    {{"info", "unix.txt", "missing.txt"}, 1, "file: unix.txt\ndetected: UNIX\nencoding: ASCII（推定）\ncrlf: 0\nlf: 2\ncr: 0\n"
     "mixed: no\ncontrol: no\nnul: no\nbytes: 4\n", Says("missing.txt", messages::Text(Outcome::SourceMissing))},
    // convert SRC OUT: every line ending made the target's
    {{"convert", "--to", "unix", "dos.txt", "out.txt"}, 0, kConverted, "", {{"out.txt", "a\nb\n"}}},
    {{"convert", "-t", "CRLF", "mac.txt", "out.txt"}, 0, kConverted, "", {{"out.txt", "a\r\nb"}}},
    {{"convert", "-t", "lf", "mixed.txt", "out.txt"}, 0, kConverted, "",
     {{"out.txt", "a\nb\nc\n" + std::string(1000, 'x') + "\nd\x1b\n"}}},
    {{"convert", "--from", "mac", "--to", "unix", "esc.txt", "out.txt"}, 0, kConverted, "", {{"out.txt", "\x01\n"}}},
    {{"convert", "--from", "mac", "--to", "mac", "dos.txt", "out.txt"}, 0, kConverted, "", {{"out.txt", "a\rb\r"}}},
    {{"convert", "-q", "--to", "unix", "dos.txt", "out.txt"}, 0, "", "", {{"out.txt", "a\nb\n"}}},
    // ...and what needs no conversion copied as it is, so that running it twice does no harm
    {{"convert", "--to", "unix", "unix.txt", "out.txt"}, 0, "変換不要（コピーしました）\n", "", {{"out.txt", "a\nb\n"}}},
    {{"convert", "--to", "unix", "line.txt", "out.txt"}, 0, "変換不要（改行がありません・コピーしました）\n", "",
     {{"out.txt", "no break"}}},
    // ...its failures: exit 1, the reason, and OUT as it was (the engine's suite holds
    // each refusal; the filter rows below print two)
    // what made it BINARY, and where
    {{"convert", "--to", "dos", "binary.dat", "dos.txt"}, 1, "",
     Says("binary.dat", "このファイルは変換できません（1 行目に NUL 文字があります）")},
    {{"convert", "--to", "dos", "esc.txt", "dos.txt"}, 1, "",
     Says("esc.txt", "このファイルは変換できません（1 行目に制御文字 0x01 があります）")},
    {{"convert", "--to", "unix", "png.dat", "out.txt"}, 1, "",
     Says("png.dat", "このファイルは変換できません（3 行目に NUL 文字があります）"), {{"out.txt", "old output"}}},
    {{"convert", "-f", "dos", "-t", "dos", "binary.dat", "out.txt"}, 1, "", Line(messages::Text(Outcome::SameKind)),
     {{"out.txt", "old output"}}},
    {{"convert", "-q", "--to", "unix", "unix.txt", "unix.txt"}, 1, "", Line(messages::Text(Outcome::SameFile))},
    {{"convert", "--from", "dos", "--to", "unix", "missing.txt", "out.txt"}, 1, "",
     Says("missing.txt", messages::Text(Outcome::SourceMissing))},
    {{"convert", "--from", "dos", "--to", "unix", "sub", "out.txt"}, 1, "", Says("sub", Outcome::SourceCannotOpen, EISDIR)},
    {{"convert", "--to", "unix", "dos.txt", "nowhere/out.txt"}, 1, "",
     Says("nowhere/out.txt", Outcome::OutputCannotWrite, ENOENT)},
    {{"convert", "--to", "unix", "dos.txt", "sub"}, 1, "", Says("sub", Outcome::OutputCannotWrite, EISDIR)},
    {{"convert", "--to", "unix", "dos.txt", "out.txt"}, 1, "", Says("dos.txt", Outcome::SourceCannotOpen, EACCES),
     {{"out.txt", "old output"}}, "", Op::OpenRead},
    {{"convert", "--to", "unix", "dos.txt", "out.txt"}, 1, "", Says("out.txt", Outcome::OutputCannotWrite, ENOSPC),
     {{"out.txt", "old output"}}, "", Op::Write},
    // a filter in a pipe, which passes on what it does not change
    {{"convert", "--to", "dos", "-", "-"}, 0, "a\r\nb\r\n", "", {}, "a\nb\n"},
    {{"convert", "-t", "unix", "-", "-"}, 0, kBigUnix, "", {}, kBigDos},
    {{"convert", "-f", "mac", "-t", "unix", "-", "-"}, 0, "a\nb", "", {}, "a\r\nb"},
    {{"convert", "--to", "unix", "-", "-"}, 0, "a\nb\n", "", {}, "a\nb\r\n"},
    {{"convert", "--to", "unix", "-", "-"}, 0, "no break", "", {}, "no break"},
    {{"convert", "--to", "unix", "-", "-"}, 1, "", Says("-", "このファイルは変換できません（1 行目に制御文字 0x01 があります）"),
     {}, "\x01\r\n"},
    {{"convert", "--to", "unix", "-", "-"}, 1, "", Says("-", "このファイルは変換できません（2 行目に NUL 文字があります）"), {},
     "a\r\nb\0c\r\n"s},
    {{"convert", "--to", "unix", "-", "-"}, 1, kBigUnix.substr(0, 1 << 20), Says("-", kNotText), {},
     kBigDos + "\0"s},
    // a control character at the first held-back MiB's last byte (an ESC, decided by the
    // byte after it) refuses it whole; one just past it, after that MiB is passed on
    {{"convert", "--to", "unix", "-", "-"}, 1, "", Says("-", "このファイルは変換できません（1 行目に制御文字 0x1B があります）"),
     {}, std::string((1 << 20) - 1, 'a') + "\x1b" "x\r\n"},
    {{"convert", "--to", "unix", "-", "-"}, 1, std::string(1 << 20, 'a'),
     Says("-", messages::Describe({Outcome::NotConvertible, platform::Reason::kControlCharacter})), {},
     std::string(1 << 20, 'a') + "\x01\r\n"},
    {{"convert", "--to", "mac", "-", "out.txt"}, 0, kConverted, "", {{"out.txt", "a\rb\r"}}, "a\nb\n"},
    {{"convert", "--to", "unix", "dos.txt", "-"}, 0, "a\nb\n", ""},
    {{"convert", "-f", "unix", "-t", "unix", "unix.txt", "-"}, 1, "", Line(messages::Text(Outcome::SameFile)), {}, "", std::nullopt,
     "unix.txt"},
    {{"convert", "-t", "dos", "-", "-"}, 1, "", Line(messages::Text(Outcome::SameFile)), {{"unix.txt", "a\nb\n"}}, "a\nb\n",
     std::nullopt, "unix.txt", "unix.txt"},
    // many files: -o DIR mirrors each folder named below its own name, copying what is
    // not converted; --in-place replaces each file
    {{"convert", "--to", "unix", "-r", "-o", "out", "src"},
     0,
     Says("src/dos.txt", messages::Text(Outcome::Ok)) + Says("src/escape.txt", "シンボリック リンクのため飛ばしました") +
         Says("src/image.bin", "このファイルは変換できません（1 行目に制御文字 0x01 があります・コピーしました）") +
         Says("src/notes.md", messages::Text(Outcome::Ok)) + Says("src/sub/deeper.txt", messages::Text(Outcome::Ok)) +
         Says("src/unix.txt", "変換不要（コピーしました）"),
     "変換 3・変換不要 1・変換できません 1・失敗 0・コピー 2・リンク 1\n",
     {{"out/src/dos.txt", "a\nb\n"}, {"out/src/sub/deeper.txt", "a\nb\n"}, {"out/src/image.bin", "\x01\x02\0\r\n"s},
      {"out/src/escape.txt", "<none>"}, {"src/dos.txt", "a\r\nb\r\n"}}},
    {{"convert", "-t", "dos", "--in-place", "--include", "*.txt", "--include", "*.none", "src"},
     0,
     Says("src/dos.txt", messages::Text(Outcome::AlreadyTarget)) + Says("src/escape.txt", "シンボリック リンクのため飛ばしました") +
         Says("src/unix.txt", messages::Text(Outcome::Ok)),
     "変換 1・変換不要 1・変換できません 0・失敗 0・リンク 1\n",
     {{"src/unix.txt", "a\r\nb\r\n"}, {"src/notes.md", "a\r\n"}, {"dos.txt", "a\r\nb\r\n"}}},
    {{"convert", "--to", "unix", "--dry-run", "-r", "-o", "out", "src/sub", "src/dos.txt", "src/unix.txt"},
     0,
     "src/sub/deeper.txt: MAC -> UNIX: out/sub/deeper.txt\nsrc/dos.txt: MS-DOS -> UNIX: out/dos.txt\n"
     "src/unix.txt: 変換不要（コピー）: out/unix.txt\n",
     "変換 2・変換不要 1・変換できません 0・失敗 0・コピー 1\n",
     {{"out/dos.txt", "<none>"}}},
    {{"convert", "--to", "unix", "-o", "out", "missing.txt", "src/dos.txt"},
     1,
     Says("missing.txt", messages::Text(Outcome::SourceMissing)) + Says("src/dos.txt", messages::Text(Outcome::Ok)),
     "変換 1・変換不要 0・変換できません 0・失敗 1\n",
     {{"out/dos.txt", "a\nb\n"}}},
    {{"convert", "--to", "unix", "-q", "-o", "out", "missing.txt", "src/dos.txt"}, 1,
     Says("missing.txt", messages::Text(Outcome::SourceMissing)), "変換 1・変換不要 0・変換できません 0・失敗 1\n",
     {{"out/dos.txt", "a\nb\n"}}},
    {{"convert", "--to", "unix", "-q", "-r", "--in-place", "src"}, 0, "", "", {{"src/dos.txt", "a\nb\n"}}},
    {{"convert", "--editorconfig", "--in-place", "-r", "src"},
     0,
     Says("src/dos.txt", messages::Text(Outcome::Ok)) + Says("src/escape.txt", "シンボリック リンクのため飛ばしました") +
         Says("src/image.bin", "このファイルは変換できません（1 行目に制御文字 0x01 があります）") +
         Says("src/notes.md", messages::Text(Outcome::AlreadyTarget)) + Says("src/sub/deeper.txt", messages::Text(Outcome::AlreadyTarget)) +
         Says("src/unix.txt", "EditorConfig に end_of_line がないため飛ばしました"),
     "変換 1・変換不要 2・変換できません 1・失敗 0・リンク 1・飛ばしました 1\n",
     {{"src/dos.txt", "a\nb\n"}, {"src/notes.md", "a\r\n"}, {"src/sub/deeper.txt", "a\rb\r"}}},
    // check: every line end of each file against what it should end with; the files
    // that differ on stdout, those that cannot be read on stderr
    {{"check", "-r", "src"}, 1, "src/dos.txt: CRLF 2、期待 LF\n", ""},
    {{"check", "-t", "unix", "mixed.txt", "unix.txt", "binary.dat", "line.txt", "missing.txt", "u16.txt"},
     1,
     "mixed.txt: 混在（CRLF 2・LF 2・CR 1）、期待 LF\nu16.txt: 混在（CRLF 1・LF 1）、期待 LF\n",
     Says("missing.txt", messages::Text(Outcome::SourceMissing))},
    {{"check", "ec/dos.txt", "ec/mac.txt"}, 1, "ec/mac.txt: CR 1、期待 LF\n", ""},
    {{"check", "-t", "lf", "--files-from", "list.txt"}, 1, "repo/a.txt: CRLF 1、期待 LF\n", ""},
    {{"check", "--files-from", "missing.lst"}, 1, "", Says("missing.lst", messages::Text(Outcome::SourceMissing))},
    {{"check", "bad/x.txt"},
     1,
     "",
     "bad/x.txt: " + (std::filesystem::current_path() / "bad/.editorconfig").string() +
         ": EditorConfig として読めません（2 行目付近）\n"},
    {{"check", "-r", "-v", "-t", "lf", "--exclude", "vendor", "repo"},
     1,
     "repo/.github/ci.yml: CRLF 1、期待 LF\nrepo/a.txt: CRLF 1、期待 LF\n"
     "repo/.git: バージョン管理のフォルダーのため飛ばしました\n",
     "一致 0・不一致 2・飛ばしました 0・失敗 0\n"},
    {{"convert", "-t", "lf", "--in-place", "-r", "repo"},
     0,
     Says("repo/.github/ci.yml", messages::Text(Outcome::Ok)) + Says("repo/a.txt", messages::Text(Outcome::Ok)) +
         Says("repo/vendor/x.txt", messages::Text(Outcome::Ok)),
     "変換 3・変換不要 0・変換できません 0・失敗 0\n",
     {{"repo/.git/config", "a\r\n"}, {"repo/.github/ci.yml", "a\n"}}},
    // a list such as git ls-files -z prints: a link listed is skipped, not followed
    {{"check", "-t", "lf", "--null", "--files-from", "-", "--exclude", "vendor"},
     1,
     "repo/a.txt: CRLF 1、期待 LF\n",
     "",
     {},
     "repo/a.txt\0"s + kEvil + "\0link.txt\0repo/vendor/x.txt\0"},
    {{"check", "unix.txt", "mixed.txt", "dos.txt"}, 1, "mixed.txt: 混在（CRLF 2・LF 2・CR 1）\ndos.txt: CRLF 2、期待 LF\n", ""},
    {{"check", "--editorconfig", "-v", "--format=json", "src/unix.txt", "src/notes.md", "src/escape.txt"},
     1,
     "{\"path\":\"src/unix.txt\",\"expected\":null,\"found\":null,\"crlf\":0,\"lf\":0,\"cr\":0,"
     "\"verdict\":\"skipped\",\"message\":\"EditorConfig に end_of_line がないため飛ばしました\"}\n"
     "{\"path\":\"src/notes.md\",\"expected\":\"crlf\",\"found\":\"crlf\",\"crlf\":1,\"lf\":0,\"cr\":0,"
     "\"verdict\":\"agrees\",\"message\":\"CRLF 1、期待 CRLF\"}\n"
     "{\"path\":\"src/escape.txt\",\"expected\":\"lf\",\"found\":\"crlf\",\"crlf\":2,\"lf\":0,\"cr\":0,"
     "\"verdict\":\"differs\",\"message\":\"CRLF 2、期待 LF\"}\n",
     "一致 1・不一致 1・飛ばしました 1・失敗 0\n"},
    {{"check", "-t", "dos", "--format", "json", kEvil},
     1,
     "{\"path\":\"evil: MS-DOS\\u000aother\\u001b[2J.txt\",\"expected\":\"crlf\",\"found\":\"lf\",\"crlf\":0,"
     "\"lf\":2,\"cr\":0,\"verdict\":\"differs\",\"message\":\"LF 2、期待 CRLF\"}\n",
     ""},
};

// A row's name: its command line, and what it is run with.
std::string Described(const Case& c) {
  std::string described;
  for (const std::string& arg : c.args) described += arg + " ";
  if (c.fail) described += "failing " + std::string(testkit::OpName(*c.fail)) + " ";
  if (!c.input.empty()) described += "from " + c.input.substr(0, 12) + " ";
  if (!c.stdout_file.empty()) described += "into " + c.stdout_file + " ";
  if (!c.stdin_file.empty()) described += "from " + c.stdin_file;
  return described;
}

// `said` as `info` says it where the system has no guesser of encodings (Windows): a
// guessed encoding, "NAME（推定）", is "bytes" there.
std::string AsSaidHere(std::string said) {
  const std::uint8_t ascii[] = {'a', '\n'};
  if (!platform::GuessCharset(ascii).empty()) return said;
  static const std::regex guessed("encoding: [^\\n\\0]*（推定）");
  return std::regex_replace(said, guessed, "encoding: bytes");
}

// Whether a command line reads .editorconfig files: --editorconfig, or check without -t.
bool ReadsEditorConfig(const std::vector<std::string>& args) {
  const auto has = [&args](std::string_view arg) { return std::find(args.begin(), args.end(), arg) != args.end(); };
  return has("--editorconfig") || (!args.empty() && args[0] == "check" && !has("-t") && !has("--to"));
}

class CliCase : public ::testing::TestWithParam<const Case*> {};

TEST_P(CliCase, PrintsWhatItDidAndLeavesTheFilesSo) {
  const Case& c = *GetParam();
  if (ReadsEditorConfig(c.args) && !cli::EditorConfigRules::Available()) GTEST_SKIP() << "this build reads no .editorconfig";
  FakeFileSystem fs;
  MakeFiles(fs);
  if (c.fail) fs.FailOn(*c.fail);
  const Ran outcome = RunCli(fs, c.args, c.input, c.stdout_file, c.stdin_file);
  EXPECT_EQ(outcome.exit_code, c.exit_code) << outcome.err;
  const std::string out = AsSaidHere(c.out);
  if (out.size() < 200) {
    EXPECT_EQ(outcome.out, out);
  } else {  // past the first MiB, how much of a failed stream came out depends on the buffers
    EXPECT_EQ(outcome.out.substr(0, out.size()), out);
  }
  EXPECT_EQ(outcome.err, c.err);
  for (const auto& [path, bytes] : c.after) EXPECT_EQ(fs.Contents(path).value_or("<none>"), bytes) << path;
}

INSTANTIATE_TEST_SUITE_P(, CliCase, ::testing::ValuesIn(testkit::EachRow(kCases)),
                         testkit::NameRows(testkit::EachRow(kCases), [](const Case* c) { return Described(*c); }));

struct WrongLine {
  std::vector<std::string> args;
  std::string said;
  bool japanese = false;  // the locale is Japanese
};

std::vector<WrongLine> WrongLines() {
  const WrongLine cases[] = {
      {{}, "A subcommand is required"},
      {{"frobnicate"}, "unknown command: frobnicate"},
      {{"detect"}, "FILE is required"},
      {{"convert", "dos.txt", "out.txt"}, "--to is required"},
      {{"convert", "--to", "unix", "dos.txt"}, "SRC and OUT are required"},
      {{"convert", "--to", "unix", "dos.txt", "out.txt", "more"}, "more than SRC and OUT"},
      {{"convert", "--to", "binary", "dos.txt", "out.txt"}, "binary is not a kind"},
      {{"convert", "--to", "2", "dos.txt", "out.txt"}, "2 is not a kind"},
      {{"convert", "--bogus", "a", "b"}, "unknown option: --bogus"},
      {{"convert", "--to", "unix", "-r", "a", "b"}, "need -o DIR or --in-place"},
      {{"convert", "--to", "unix", "--in-place", "-o", "out", "a"}, "exclude each other"},
      {{"convert", "--to", "unix", "--in-place"}, "no file or folder"},
      {{"convert", "--to", "unix", "--in-place", "-"}, "'-' is for one file only"},
      {{"convert", "--to", "unix", "-r", "-o", "src/out", "src"}, "src/out is, or lies inside, src"},
      {{"convert", "--to", "unix", "-o", "src", "unix.txt", "src"}, "use --in-place"},
      // An output folder that is the sources' own: `cd A && -o . y.txt`, `cd P && -o . A`.
      {{"convert", "--to", "unix", "-o", ".", "dos.txt"}, "the output of dos.txt in . would be dos.txt itself"},
      {{"convert", "--to", "unix", "-r", "-o", "./src/..", "src"}, "the output of src in ./src/.. would be src itself"},
      // CLI11's errors and ours, in Japanese
      {{}, "コマンドを指定してください\n詳しくは --help を付けて実行してください。\n", true},
      {{"convert", "dos.txt", "out.txt"}, "--to を指定してください", true},
      {{"convert", "-t"}, "--to の値を指定してください", true},
      {{"convert", "--to", "binary", "dos.txt", "out.txt"}, "binary は種類ではありません", true},
      {{"convert", "--bogus", "a", "b"}, "不明なオプションです: --bogus", true},
      {{"convert", "--to", "unix", "dos.txt"}, "convert: SRC と OUT を指定してください", true},
      {{"convert", "--in-place", "--dry-run=x", "-t", "unix", "a"}, "コマンドラインが正しくありません（", true},
      {{"convert", "--editorconfig", "dos.txt", "out.txt"}, "--editorconfig needs -o DIR or --in-place"},
      {{"check", "-t", "lf", "--editorconfig", "src"}, "exclude each other"},
      {{"check", "--format=xml", "src"}, "xml not in {text,json}"},
      {{"check", "--null", "src"}, "--null is for --files-from"},
  };
  return {std::begin(cases), std::end(cases)};
}

// A wrong command line exits 2, says what was wrong, and touches nothing.
class WrongCommandLine : public ::testing::TestWithParam<WrongLine> {};

TEST_P(WrongCommandLine, SaysWhatWasWrong) {
  const auto& [args, said, japanese] = GetParam();
  if (ReadsEditorConfig(args) && !cli::EditorConfigRules::Available()) GTEST_SKIP() << "this build reads no .editorconfig";
  FakeFileSystem fs;
  MakeFiles(fs);
  const std::vector<std::string> before = fs.Paths();
  const Ran outcome = RunCli(fs, args, "", "", "", japanese);
  EXPECT_EQ(outcome.exit_code, 2);
  EXPECT_NE(outcome.err.find(said), std::string::npos) << outcome.err;
  EXPECT_EQ(fs.Paths(), before);
}

INSTANTIATE_TEST_SUITE_P(, WrongCommandLine, ::testing::ValuesIn(WrongLines()),
                         testkit::NameRows(WrongLines(), [](const WrongLine& line) { return line.said; }));

TEST(Cli, PrintsItsVersionAndHelp) {
  FakeFileSystem fs;
  EXPECT_EQ(RunCli(fs, {"-V"}).out, Line(messages::kVersionText));
  EXPECT_NE(RunCli(fs, {"convert", "--help"}).out.find("tarnwhistle-cli convert"), std::string::npos);
  const std::string help = RunCli(fs, {"convert", "--help"}, "", "", "", true).out;
  for (const char* japanese : {"使い方: tarnwhistle-cli convert [オプション]", "\nオプション:\n  -h,--help", "変換後の種類"}) {
    EXPECT_NE(help.find(japanese), std::string::npos) << help;
  }
  EXPECT_EQ(help.find("Options:"), std::string::npos) << help;
}

// Sets an environment variable, or removes it (nullptr). Windows' C library has no setenv.
void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
  ::_putenv_s(name, value != nullptr ? value : "");
#else
  if (value != nullptr) {
    ::setenv(name, value, 1);
  } else {
    ::unsetenv(name);
  }
#endif
}

struct LocaleCase {
  const char* lc_all;
  const char* lc_messages;
  const char* lang;
  bool japanese;
};

std::vector<LocaleCase> LocaleCases() {
  return {
      {nullptr, nullptr, "ja_JP.UTF-8", true},   {nullptr, "ja_JP.eucJP", "C.UTF-8", true},
      {"C", nullptr, "ja_JP.UTF-8", false},      {"", "", "ja", true},
      {nullptr, "en_US.UTF-8", "ja_JP.UTF-8", false}, {nullptr, nullptr, nullptr, false},
  };
}

class Locale : public ::testing::TestWithParam<LocaleCase> {};

// The help's language follows the first of LC_ALL, LC_MESSAGES and LANG that is set.
TEST_P(Locale, TheFirstVariableSetChoosesTheLanguage) {
  const LocaleCase& c = GetParam();
  const char* const names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::optional<std::string> were[3];
  for (int i = 0; i < 3; ++i) {
    if (const char* value = std::getenv(names[i])) were[i] = value;
  }
  const char* const values[] = {c.lc_all, c.lc_messages, c.lang};
  for (int i = 0; i < 3; ++i) SetVariable(names[i], values[i]);
  EXPECT_EQ(cli::JapaneseLocale(), c.japanese);
  for (int i = 0; i < 3; ++i) SetVariable(names[i], were[i] ? were[i]->c_str() : nullptr);
}

INSTANTIATE_TEST_SUITE_P(, Locale, ::testing::ValuesIn(LocaleCases()),
                         testkit::NameRows(LocaleCases(), [](const LocaleCase& c) {
                           const auto shown = [](const char* value) {
                             return std::string(value == nullptr ? "unset" : *value == '\0' ? "empty" : value);
                           };
                           return shown(c.lc_all) + " " + shown(c.lc_messages) + " " + shown(c.lang);
                         }));

// Names that no section of a .editorconfig can tell apart share the library's answer:
// two names put in one class must match the same sections, and a section name the
// reading is not sure of must leave every name to the library.
struct NameClassCase {
  std::string config;
  std::string a, b;
  bool known, same;
};

std::vector<NameClassCase> NameClassCases() {
  const NameClassCase kCases[] = {
      {"[*]\n[*.c]\n", "a.c", "b.c", true, true},
      {"[*]\n[*.c]\n", "a.c", "a.h", true, false},
      {"[*.c]\n", "c", ".c", true, false},                  // an end is more than the letters
      {"[*.{c,h}]\n", "a.h", "a.cpp", true, false},
      {"[{Makefile,*.mk}]\n", "Makefile", "makefile", true, false},  // case counts
      {"[src/**.c]\n", "x.c", "y.c", true, true},
      {"[**.tar.gz]\n", "a.tar.gz", "a.gz", true, false},
      {"root = true\n# [*.c] in a comment\n[*]\n", "a.c", "b", true, true},
      {"[d?s.txt]\n", "dos.txt", "mac.txt", false, false},
      {"[[md]ac.txt]\n", "mac.txt", "dac.txt", false, false},
      {"[a*.c]\n", "ab.c", "b.c", false, false},
      {"[{src,lib}/*.c]\n", "a.c", "b.c", false, false},     // braces in the folders
      {"[*.{1..3}]\n", "a.1", "a.4", false, false},
      {"[*.c] ; comment\n", "a.c", "b.c", false, false},
  };
  return {std::begin(kCases), std::end(kCases)};
}

class EditorConfigNameClasses : public ::testing::TestWithParam<NameClassCase> {};

TEST_P(EditorConfigNameClasses, PutNamesTogetherOnlyWhereNoSectionTellsThemApart) {
  const NameClassCase& c = GetParam();
  cli::NameClasses classes;
  classes.Read(c.config);
  EXPECT_EQ(classes.known, c.known);
  if (c.known) EXPECT_EQ(classes.Of(c.a) == classes.Of(c.b), c.same) << c.a << " " << c.b;
}

INSTANTIATE_TEST_SUITE_P(, EditorConfigNameClasses, ::testing::ValuesIn(NameClassCases()),
                         testkit::NameRows(NameClassCases(), [](const NameClassCase& c) {
                           return c.config + " " + c.a + " " + c.b;
                         }));

// Printed as one line of a terminal, and as a JSON string that tools read back whole.
struct Printed {
  std::string name, printed, json;
};

std::vector<Printed> PrintedNames() {
  const Printed kCases[] = {
      {"plain.txt", "plain.txt", R"("plain.txt")"},
      {"日本語 の 名前.txt", "日本語 の 名前.txt", R"("日本語 の 名前.txt")"},
      {"evil: MS-DOS\nother.txt", "evil: MS-DOS\\nother.txt", R"("evil: MS-DOS\u000aother.txt")"},
      {"tab\tcr\r", "tab\\tcr\\r", R"("tab\u0009cr\u000d")"},
      {"\x1b[31mred", "\\x1b[31mred", R"("\u001b[31mred")"},
      {"back\\slash", "back\\\\slash", R"("back\\slash")"},
      {"a\",\"verdict\":\"agrees", "a\",\"verdict\":\"agrees", R"("a\",\"verdict\":\"agrees")"},
      {"bad\xff.txt", "bad\\xff.txt", R"("bad\udcff.txt")"},
      {"\xc2\x9b" "csi", "\\xc2\\x9bcsi", R"("\u009bcsi")"},     // a C1 control in UTF-8
      {"\xe6\x97", "\\xe6\\x97", R"("\udce6\udc97")"},         // a character cut short
      {"\xc0\xaf", "\\xc0\\xaf", R"("\udcc0\udcaf")"},         // an overlong "/"
      {"\xed\xa0\x80", "\\xed\\xa0\\x80", R"("\udced\udca0\udc80")"},  // a surrogate
      {"nul\0"s, "nul\\x00", R"("nul\u0000")"},
      {"del\x7f", "del\\x7f", R"("del\u007f")"},
  };
  return {std::begin(kCases), std::end(kCases)};
}

class PrintableName : public ::testing::TestWithParam<Printed> {};

TEST_P(PrintableName, EscapesWhatCouldForgeALineOrReachTheTerminal) {
  EXPECT_EQ(cli::PrintableName(GetParam().name), GetParam().printed);
  EXPECT_EQ(cli::JsonString(GetParam().name), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(, PrintableName, ::testing::ValuesIn(PrintedNames()),
                         testkit::NameRows(PrintedNames(), [](const Printed& row) { return row.printed; }));

}  // namespace
}  // namespace tarnwhistle
