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
    if (detection.status == Status::Cancelled) return kExitFailed;
    if (detection.status != Status::Ok) {
      Complain(env, file, messages::ForStatus(detection.status, detection.reason));
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
  const std::string_view encoding = EncodingName(e.encoding);
  env.out << "file: " << format.Name(file) << end << "detected: " << VerdictName(e.verdict) << end
          << "encoding: " << (encoding.empty() ? "bytes" : encoding) << end << "crlf: " << c.crlf << end
          << "lf: " << c.lf << end << "cr: " << c.cr << end << "mixed: " << (c.Mixed() ? "yes" : "no") << end
          << "control: " << offset(c.control, c.first_control) << "nul: " << offset(c.nul, c.first_nul)
          << "bytes: " << c.bytes << end;
}

int Info(const Environment& env, const Format& format, const std::vector<std::string>& files) {
  int code = kExitOk;
  bool first = true;
  for (const std::string& file : files) {
    const Examination examination = ExamineFile(env.fs, file, env.stop);
    if (examination.status == Status::Cancelled) return kExitFailed;
    if (examination.status != Status::Ok) {
      Complain(env, file, messages::ForStatus(examination.status, examination.reason));
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
  const std::string& first = unexpected.front();
  if (first.size() > 1 && first.front() == '-') {
    env.err << "unknown option: " << PrintableName(first) << '\n';
  } else if (app.get_subcommands().empty()) {
    env.err << "unknown command: " << PrintableName(first) << " (the commands are detect, info, convert and check)\n";
  } else {
    env.err << "unexpected argument: " << PrintableName(first) << '\n';
  }
  env.err << "Run with --help for more information.\n";
  return true;
}

// `detect` and `info`, which take the same files and --null.
CLI::App* AddLookingCommand(CLI::App& app, const char* name, const char* description, const char* footer,
                            std::vector<std::string>& files, Format& format) {
  CLI::App* command = app.add_subcommand(name, description);
  command->add_option("FILE", files, "Files to look at")->required();
  command->add_flag("--null,-z", format.null,
                    "End every field with a NUL byte instead of a line break, and print file names as they are, "
                    "not escaped");
  command->footer(footer);
  return command;
}

}  // namespace

void Complain(const Environment& env, const std::string& file, std::string_view message) {
  env.err << PrintableName(file) << ": " << message << '\n';
}

int Run(int argc, const char* const argv[], const Environment& env) {
  CLI::App app("Detects and converts the line endings of text files: CR LF (MS-DOS), LF (UNIX), CR (MAC).",
               "tarnwhistle-cli");
  app.set_version_flag("-V,--version", std::string(messages::kVersionText));
  app.require_subcommand(1);
  app.footer(
      "Exit codes: 0 done (convert: OUT holds the converted file), 1 refused or failed (convert: OUT is as it "
      "was), 2 wrong command line. A convert whose \"done\" message cannot be printed still exits 0.");
  Format format;
  std::vector<std::string> files;
  CLI::App* detect = AddLookingCommand(
      app, "detect",
      "Print the kind of each FILE, decided from its first line break: MS-DOS, UNIX, MAC, BINARY, or NONE for a "
      "file with no line break.",
      "With --null, each file is two fields: its name, then its kind.", files, format);
  CLI::App* info = AddLookingCommand(
      app, "info",
      "Tell the kind and encoding of each whole FILE, count its CR LF, LF-alone and CR-alone line ends, and tell "
      "where the first control character other than TAB, LF, CR and a JIS escape, and the first NUL, occur.",
      "With --null, each file is ten fields, each \"key: value\": file, detected, encoding, crlf, lf, cr, mixed, "
      "control, nul, bytes; no empty line between files.",
      files, format);
  ConvertArguments convert_args;
  CLI::App* convert = AddConvertCommand(app, convert_args);
  CheckArguments check_args;
  CLI::App* check = AddCheckCommand(app, check_args);

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
