#include "commands.h"

#include <CLI/CLI.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "check_command.h"
#include "convert_command.h"
#include "engine/detection.h"
#include "engine/messages.h"
#include "engine/statistics.h"
#include "language.h"
#include "printable_name.h"

namespace tarnwhistle::cli {
namespace {

using K = LineEndingKind;

// Said when the tool's own printing fails (a full disk behind a redirection, say).
constexpr std::string_view kStdoutUnwritable = "標準出力に書き込めません";

// "MS-DOS", "UNIX", "MAC", "BINARY", or "NONE" when the file has no line break at all.
std::string_view VerdictName(K verdict) { return verdict == K::None ? "NONE" : DisplayName(verdict); }

// With --null, a record's fields end in NUL and names go out as they are; otherwise
// they end in a line break and names are escaped, so that one file is one line.
struct Format {
  bool null = false;
  char end() const { return null ? '\0' : '\n'; }
  std::string Name(const std::string& file) const { return null ? file : PrintableName(file); }
};

int Detect(const Environment& env, const Format& format, const std::vector<std::string>& files) {
  int code = kExitOk;
  for (const std::string& file : files) {
    const Detection detection = DetectLineEndings(env.fs, file, env.stop);
    if (detection.outcome == Outcome::Cancelled) return kExitFailed;
    if (detection.outcome != Outcome::Ok) {
      Complain(env, file, messages::Describe(detection));
      code = kExitFailed;
      continue;
    }
    if (format.null) {
      env.out << file << '\0';
    } else if (files.size() > 1) {
      env.out << PrintableName(file) << ": ";
    }
    env.out << VerdictName(detection.verdict) << format.end();
  }
  return code;
}

void PrintExamination(const Environment& env, const Format& format, const std::string& file, const Examination& e) {
  const char end = format.end();
  const auto offset = [end](bool found, std::uint64_t at) {
    return found ? "yes, first at offset " + std::to_string(at) + end : std::string("no") + end;
  };
  const LineEndingCounts& c = e.counts;
  env.out << "file: " << format.Name(file) << end << "detected: " << VerdictName(e.verdict) << end
          << "encoding: " << (e.encoding_name.empty() ? "bytes" : e.encoding_name) << end << "crlf: " << c.crlf << end
          << "lf: " << c.lf << end << "cr: " << c.cr << end << "mixed: " << (c.Mixed() ? "yes" : "no") << end
          << "control: " << offset(c.control, c.first_control) << "nul: " << offset(c.nul, c.first_nul)
          << "bytes: " << c.bytes << end;
}

int Info(const Environment& env, const Format& format, const std::vector<std::string>& files) {
  int code = kExitOk;
  bool first = true;
  for (const std::string& file : files) {
    const Examination examination = ExamineFile(env.fs, file, env.stop);
    if (examination.outcome == Outcome::Cancelled) return kExitFailed;
    if (examination.outcome != Outcome::Ok) {
      Complain(env, file, messages::Describe(examination));
      code = kExitFailed;
      continue;
    }
    if (!first && !format.null) env.out << '\n';
    first = false;
    PrintExamination(env, format, file, examination);
  }
  return code;
}

// CLI11 checks what is required before what is unknown, and would answer a mistyped
// command or option with "A subcommand is required" or "--to is required"; the word
// that was not understood is the more useful thing to say.
bool ReportedUnexpected(const CLI::App& app, const Environment& env) {
  const std::vector<std::string> unexpected = app.remaining(true);
  if (unexpected.empty()) return false;
  const std::string first = PrintableName(unexpected.front());
  const bool ja = env.japanese;
  if (first.size() > 1 && first.front() == '-') {
    env.err << Say(ja, "unknown option: ", "不明なオプションです: ") << first << '\n';
  } else if (app.get_subcommands().empty()) {
    env.err << Say(ja, "unknown command: ", "不明なコマンドです: ") << PrintableName(first)
            << Say(ja, " (the commands are detect, info, convert and check)\n",
                   "（コマンドは detect、info、convert、check です）\n");
  } else {
    env.err << Say(ja, "unexpected argument: ", "余分な引数です: ") << first << '\n';
  }
  env.err << RunWithHelp(ja) << '\n';
  return true;
}

// `detect` and `info`, which take the same files and --null.
CLI::App* AddLookingCommand(CLI::App& app, bool ja, const char* name, std::string_view description,
                            std::string_view footer, std::vector<std::string>& files, Format& format) {
  CLI::App* command = app.add_subcommand(name, std::string(description));
  command->add_option("FILE", files, std::string(Say(ja, "Files to look at", "調べるファイル")))->required();
  command->add_flag("--null,-z", format.null,
                    std::string(Say(ja,
                                    "End every field with a NUL byte instead of a line break, and print file names "
                                    "as they are, not escaped",
                                    "各フィールドを改行でなく NUL バイトで終え、"
                                    "ファイル名をエスケープせずそのまま表示します")));
  command->footer(std::string(footer));
  return command;
}

}  // namespace

void Complain(const Environment& env, const std::string& file, std::string_view message) {
  env.err << PrintableName(file) << ": " << message << '\n';
}

int Run(int argc, const char* const argv[], const Environment& env) {
  const bool ja = env.japanese;
  CLI::App app(std::string(Say(ja,
                               "Detects and converts the line endings of text files: CR LF (MS-DOS), LF (UNIX), "
                               "CR (MAC).",
                               "テキスト ファイルの改行（CR LF（MS-DOS）、LF（UNIX）、CR（MAC））を"
                               "検出し、変換します。")),
               "tarnwhistle-cli");
  if (ja) SpeakJapanese(app);
  app.set_version_flag("-V,--version", std::string(messages::kVersionText),
                       std::string(Say(ja, "Display program version information and exit",
                                       "バージョンを表示して終了します")));
  app.require_subcommand(1);
  app.footer(std::string(Say(
      ja,
      "Exit codes: 0 done (convert: OUT holds the converted file), 1 refused or failed (convert: OUT is as it "
      "was), 2 wrong command line. A convert whose \"done\" message cannot be printed still exits 0.",
      "終了コード: 0 完了（convert: OUT は変換したファイル）、1 拒否または失敗（convert: OUT は元のまま）、"
      "2 コマンドラインの誤り。convert は「変換しました」を表示できなくても 0 で終わります。")));
  Format format;
  std::vector<std::string> files;
  CLI::App* detect = AddLookingCommand(
      app, ja, "detect",
      Say(ja,
          "Print the kind of each FILE, decided from its first line break: MS-DOS, UNIX, MAC, BINARY, or NONE for a "
          "file with no line break.",
          "各 FILE の種類を最初の改行から判定して表示します: MS-DOS、UNIX、MAC、BINARY、改行のないファイルは NONE。"),
      Say(ja, "With --null, each file is two fields: its name, then its kind.",
          "--null のとき、各ファイルは名前と種類の 2 つのフィールドです。"),
      files, format);
  CLI::App* info = AddLookingCommand(
      app, ja, "info",
      Say(ja,
          "Tell the kind and encoding of each whole FILE, count its CR LF, LF-alone and CR-alone line ends, and tell "
          "where the first control character other than TAB, LF, CR and a JIS escape, and the first NUL, occur.",
          "各 FILE 全体の種類と文字コードを示し、CR LF・LF だけ・CR だけの改行を数え、TAB・LF・CR・JIS の"
          "エスケープ以外の最初の制御文字と最初の NUL の位置を示します。"),
      Say(ja,
          "With --null, each file is ten fields, each \"key: value\": file, detected, encoding, crlf, lf, cr, mixed, "
          "control, nul, bytes; no empty line between files.",
          "--null のとき、各ファイルは「キー: 値」の 10 のフィールドです: file、detected、encoding、crlf、lf、cr、"
          "mixed、control、nul、bytes。ファイルの間に空行はありません。"),
      files, format);
  ConvertArguments convert_args;
  CLI::App* convert = AddConvertCommand(app, convert_args, ja);
  CheckArguments check_args;
  CLI::App* check = AddCheckCommand(app, check_args, ja);
  if (ja) {
    for (CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
      command->group("コマンド");
      command->get_help_ptr()->group("オプション");
    }
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (ReportedUnexpected(app, env)) return kExitUsage;
    app.exit(e, env.out, env.err);
    return e.get_exit_code() == 0 ? kExitOk : kExitUsage;
  }

  int code = kExitUsage;
  if (detect->parsed()) code = Detect(env, format, files);
  if (info->parsed()) code = Info(env, format, files);
  if (convert->parsed()) code = RunConvert(env, convert_args);
  if (check->parsed()) code = RunCheck(env, check_args);

  env.out.flush();
  if (!env.out) {
    env.err << kStdoutUnwritable << '\n';
    // The exit code of convert tells what became of OUT, and by now that is settled.
    return convert->parsed() ? code : kExitFailed;
  }
  return code;
}

}  // namespace tarnwhistle::cli
