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

int Detect(const Environment& env, const std::vector<std::string>& files) {
  int code = kExitOk;
  for (const std::string& file : files) {
    if (env.interrupted()) return kExitFailed;
    Detection detection = DetectLineEndings(env.fs, file);
    if (detection.status != Status::Ok) {
      Complain(env, file, messages::ForStatus(detection.status));
      code = kExitFailed;
      continue;
    }
    if (files.size() > 1) env.out << PrintableName(file) << ": ";
    env.out << VerdictName(detection.verdict) << '\n';
  }
  return code;
}

int Info(const Environment& env, const std::vector<std::string>& files) {
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
    if (!first) env.out << '\n';
    first = false;
    env.out << "file: " << PrintableName(file) << '\n'
            << "detected: " << VerdictName(detection.verdict) << '\n'
            << "crlf: " << c.crlf << '\n'
            << "lf: " << c.lf << '\n'
            << "cr: " << c.cr << '\n'
            << "mixed: " << (c.Mixed() ? "yes" : "no") << '\n'
            << "control: ";
    if (c.control) {
      env.out << "yes, first at offset " << c.first_control << '\n';
    } else {
      env.out << "no\n";
    }
    env.out << "bytes: " << c.bytes << '\n';
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
  if (!outcome.refusal.empty()) {
    env.err << outcome.refusal << '\n';
    return kExitFailed;
  }
  if (outcome.status == Status::Cancelled) return kExitFailed;  // stopped on request: nothing to say
  if (outcome.status != Status::Ok) {
    Complain(env, outcome.status == Status::OutputCannotWrite ? request.output : request.source, outcome.Message());
    return kExitFailed;
  }
  env.out << outcome.Message() << '\n';
  return kExitOk;
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

int Run(int argc, const char* const argv[], const Environment& env) {
  CLI::App app("Detects and converts the line endings of text files: CR LF (MS-DOS), LF (UNIX), CR (MAC).",
               "tarnwhistle-cli");
  app.set_version_flag("-V,--version", std::string(messages::kVersionText));
  app.require_subcommand(1);
  app.footer("Exit codes: 0 done, 1 refused or failed, 2 wrong command line.");

  std::vector<std::string> detect_files;
  CLI::App* detect = app.add_subcommand(
      "detect", "Print the kind of each FILE, decided from its first bytes: MS-DOS, UNIX, MAC, BINARY or NONE.");
  detect->add_option("FILE", detect_files, "Files to look at")->required();

  ConvertArguments convert_args;
  CLI::App* convert = app.add_subcommand(
      "convert", "Write a copy of SRC with its line endings converted to OUT, replacing OUT whole only on success.");
  const auto kinds = CLI::CheckedTransformer(kKindNames, CLI::ignore_case);
  convert->add_option("-t,--to", convert_args.to, "The kind to convert to: dos, unix or mac")
      ->required()
      ->transform(kinds);
  convert->add_option("-f,--from", convert_args.from,
                      "The kind SRC is, without detecting it: dos, unix or mac (every CR or LF byte is "
                      "then converted by the rule of that kind)")
      ->transform(kinds);
  BulkArguments bulk_args;
  AddBulkOptions(*convert, bulk_args);

  std::vector<std::string> info_files;
  CLI::App* info = app.add_subcommand(
      "info", "Count the CR LF, LF-alone and CR-alone line ends over each whole FILE, and tell whether any "
              "control byte other than TAB, LF and CR occurs.");
  info->add_option("FILE", info_files, "Files to look at")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (ReportedUnexpected(app, env)) return kExitUsage;
    app.exit(e, env.out, env.err);
    return e.get_exit_code() == 0 ? kExitOk : kExitUsage;
  }

  int code = kExitUsage;
  if (detect->parsed()) code = Detect(env, detect_files);
  if (convert->parsed()) {
    code = RunConvert(env, convert_args.to, convert_args.from, bulk_args, [&](const std::string& source, const std::string& output) {
      convert_args.source = source;
      convert_args.output = output;
      return Convert(env, convert_args);
    });
  }
  if (info->parsed()) code = Info(env, info_files);

  env.out.flush();
  if (!env.out) {
    env.err << kStdoutUnwritable << '\n';
    return kExitFailed;
  }
  return code;
}

}  // namespace tarnwhistle::cli
