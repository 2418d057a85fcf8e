#include "commands.h"

#include <CLI/CLI.hpp>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/conversion_request.h"
#include "engine/detection.h"
#include "engine/messages.h"
#include "engine/statistics.h"
#include "batch_command.h"
#include "printable_name.h"

namespace tarnwhistle::cli {
namespace {

using K = LineEndingKind;

// Said when the tool's own printing fails (a full disk behind a redirection, say).
constexpr std::string_view kStdoutUnwritable = "標準出力に書き込めません";

const std::map<std::string, K> kKindNames = {{"dos", K::MsDos}, {"unix", K::Unix}, {"mac", K::Mac}};


// "MS-DOS", "UNIX", "MAC", "BINARY", or "NONE" when the scan came to no verdict.
std::string_view VerdictName(K verdict) { return verdict == K::None ? "NONE" : DisplayName(verdict); }

void Complain(const Environment& env, const std::string& file, std::string_view message) {
  env.err << PrintableName(file) << ": " << message << '\n';
}

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
    if (env.interrupted()) return kExitFailed;
    Detection detection = DetectLineEndings(env.fs, file);
    if (detection.status != Status::Ok) {
      Complain(env, file, messages::ForStatus(detection.status));
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

int Info(const Environment& env, const Format& format, const std::vector<std::string>& files) {
  int code = kExitOk;
  bool first = true;
  for (const std::string& file : files) {
    Detection detection = DetectLineEndings(env.fs, file);
    FileLineEndings whole = detection.status == Status::Ok
                                ? CountLineEndingsInFile(env.fs, file, env.interrupted)
                                : FileLineEndings{detection.status, {}};
    if (whole.status == Status::Cancelled) return kExitFailed;
    if (whole.status != Status::Ok) {
      Complain(env, file, messages::ForStatus(whole.status));
      code = kExitFailed;
      continue;
    }
    const LineEndingCounts& c = whole.counts;
    const char end = format.end();
    const auto offset = [end](bool found, std::uint64_t at) {
      return found ? "yes, first at offset " + std::to_string(at) + end : std::string("no") + end;
    };
    if (!first && !format.null) env.out << '\n';
    first = false;
    env.out << "file: " << format.Name(file) << end << "detected: " << VerdictName(detection.verdict) << end
            << "crlf: " << c.crlf << end << "lf: " << c.lf << end << "cr: " << c.cr << end
            << "mixed: " << (c.Mixed() ? "yes" : "no") << end << "control: " << offset(c.control, c.first_control)
            << "nul: " << offset(c.nul, c.first_nul) << "bytes: " << c.bytes << end;
  }
  return code;
}

struct ConvertArguments {
  K to = K::None;
  K from = K::None;  // None: detect the source's kind first
  std::string source;
  std::string output;
};

int Convert(const Environment& env, const ConvertArguments& args) {
  ConversionRequest request{args.source, args.output, args.from, args.to};
  if (request.detected == K::None && !args.source.empty()) {
    Detection detection = DetectLineEndings(env.fs, args.source);
    if (detection.status != Status::Ok) {
      Complain(env, args.source, messages::ForStatus(detection.status));
      return kExitFailed;
    }
    request.detected = detection.verdict;
  }

  ConversionOutcome outcome =
      CheckAndConvert(env.fs, request, [&env](std::uint64_t, std::uint64_t) { return !env.interrupted(); });
  return ReportConversion(env, outcome, request.source, request.output, /*say_done=*/true);
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
    env.err << "unknown command: " << PrintableName(first) << " (the commands are detect, convert and info)\n";
  } else {
    env.err << "unexpected argument: " << PrintableName(first) << '\n';
  }
  env.err << "Run with --help for more information.\n";
  return true;
}

}  // namespace

int ReportConversion(const Environment& env, const ConversionOutcome& outcome, const std::string& source,
                     const std::string& output, bool say_done) {
  if (!outcome.refusal.empty()) {
    env.err << outcome.refusal << '\n';
    return kExitFailed;
  }
  if (outcome.status == Status::Cancelled) return kExitFailed;  // stopped on request: nothing to say
  if (outcome.status != Status::Ok) {
    Complain(env, outcome.status == Status::OutputCannotWrite ? output : source, outcome.Message());
    return kExitFailed;
  }
  if (say_done) env.out << outcome.Message() << '\n';
  return kExitOk;
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
  const char* const kNullHelp =
      "End every field with a NUL byte instead of a line break, and print file names as they are, not escaped";

  std::vector<std::string> detect_files;
  CLI::App* detect = app.add_subcommand(
      "detect", "Print the kind of each FILE, decided from its first bytes: MS-DOS, UNIX, MAC, BINARY or NONE.");
  detect->add_option("FILE", detect_files, "Files to look at")->required();
  detect->add_flag("--null,-z", format.null, kNullHelp);
  detect->footer("With --null, each file is two fields: its name, then its kind.");

  ConvertArguments convert_args;
  CLI::App* convert = app.add_subcommand(
      "convert", "Write a copy of SRC with its line endings converted to OUT, replacing OUT whole only on success.");
  // The transformer alone would also take the kinds' codes ("2") and, refusing a word,
  // print the whole map; names are checked first, with a plain message.
  const auto kinds = CLI::CheckedTransformer(kKindNames, CLI::ignore_case).description("");
  const CLI::Validator kind_name(
      [](std::string& name) {
        return kKindNames.count(CLI::detail::to_lower(name)) != 0 ? std::string()
                                                                   : name + " is not a kind: give dos, unix or mac";
      },
      "");
  convert->add_option("-t,--to", convert_args.to, "The kind to convert to: dos, unix or mac")
      ->required()
      ->transform(kinds)
      ->transform(kind_name)
      ->type_name("KIND");
  convert->add_option("-f,--from", convert_args.from,
                      "The kind SRC is, without detecting it: dos, unix or mac (every CR or LF byte is "
                      "then converted by the rule of that kind)")
      ->transform(kinds)
      ->transform(kind_name)
      ->type_name("KIND");
  BulkArguments bulk_args;
  AddBulkOptions(*convert, bulk_args);

  std::vector<std::string> info_files;
  CLI::App* info = app.add_subcommand(
      "info", "Count the CR LF, LF-alone and CR-alone line ends over each whole FILE, and tell where the first "
              "control byte other than TAB, LF and CR, and the first NUL byte, occur.");
  info->add_option("FILE", info_files, "Files to look at")->required();
  info->add_flag("--null,-z", format.null, kNullHelp);
  info->footer(
      "With --null, each file is nine fields, each \"key: value\": file, detected, crlf, lf, cr, mixed, control, "
      "nul, bytes; no empty line between files.");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (ReportedUnexpected(app, env)) return kExitUsage;
    app.exit(e, env.out, env.err);
    return e.get_exit_code() == 0 ? kExitOk : kExitUsage;
  }

  int code = kExitUsage;
  if (detect->parsed()) code = Detect(env, format, detect_files);
  if (convert->parsed()) {
    code = RunConvert(env, convert_args.to, convert_args.from, bulk_args, [&](const std::string& source, const std::string& output) {
      convert_args.source = source;
      convert_args.output = output;
      return Convert(env, convert_args);
    });
  }
  if (info->parsed()) code = Info(env, format, info_files);

  env.out.flush();
  if (!env.out) {
    env.err << kStdoutUnwritable << '\n';
    // The exit code of convert tells what became of OUT, and by now that is settled.
    return convert->parsed() ? code : kExitFailed;
  }
  return code;
}

}  // namespace tarnwhistle::cli
