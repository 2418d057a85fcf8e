#include "check_command.h"

#include <CLI/CLI.hpp>
#include <atomic>
#include <optional>
#include <ostream>
#include <thread>

#include "convert_command.h"
#include "editorconfig_rules.h"
#include "engine/batch.h"
#include "engine/check.h"
#include "language.h"
#include "printable_name.h"

namespace tarnwhistle::cli {
namespace {

using K = LineEndingKind;
using Rule = EditorConfigRule;

// Files looked at together: examined on two threads, then told in the walk's order.
// Two threads halve the time on two cores; reading from the page cache, a third gained
// nothing.
constexpr std::size_t kChunk = 256;
constexpr unsigned kThreads = 2;

std::string_view JsonKind(K kind) {
  switch (kind) {
    case K::MsDos: return "\"crlf\"";
    case K::Unix: return "\"lf\"";
    case K::Mac: return "\"cr\"";
    default: return "null";
  }
}

std::string_view FoundName(const CheckResult& result) {
  if (result.verdict == CheckVerdict::Failed ||
      (result.verdict == CheckVerdict::Skipped && result.counts.bytes == 0)) {
    return "null";
  }
  switch (result.found) {
    case CheckFound::None: return "\"none\"";
    case CheckFound::Crlf: return "\"crlf\"";
    case CheckFound::Lf: return "\"lf\"";
    case CheckFound::Cr: return "\"cr\"";
    case CheckFound::Mixed: return "\"mixed\"";
    case CheckFound::Binary: return "\"binary\"";
  }
  return "null";
}

std::string_view VerdictName(CheckVerdict verdict) {
  switch (verdict) {
    case CheckVerdict::Agrees: return "agrees";
    case CheckVerdict::Differs: return "differs";
    case CheckVerdict::Skipped: return "skipped";
    case CheckVerdict::Failed: return "failed";
  }
  return "";
}

struct Totals {
  std::size_t agrees = 0, differs = 0, skipped = 0, failed = 0;
};

class Checker {
 public:
  Checker(const Environment& env, const CheckArguments& args) : env_(env), args_(args) {
    if (args.expected == K::None) rules_.emplace(env.fs);
  }

  int Run() {
    std::vector<std::string> paths = args_.paths;
    if (const int read = ReadFilesFrom(env_, "check", args_.walk, paths); read != kExitOk) return read;
    if (paths.empty() && args_.walk.files_from.empty()) paths.emplace_back(".");
    BatchSettings settings;
    settings.recursive = args_.recursive;
    settings.patterns = args_.include;
    settings.excluded = args_.walk.excluded;
    if (!args_.walk.files_from.empty()) settings.listed_from = args_.paths.size();
    settings.dry_run = true;  // reads only: a working file left behind by a dead run stays too
    BatchWalker walker(env_.fs, std::move(paths), settings);
    std::vector<BatchFile> files;
    std::vector<CheckResult> results;
    while (!env_.stop.stop_requested() && (files.clear(), walker.Next(files, kChunk))) {
      results.assign(files.size(), {});
      std::atomic<std::size_t> next = 0;
      const auto work = [&] {
        for (std::size_t i; (i = next++) < files.size() && !env_.stop.stop_requested();) {
          results[i] = CheckOne(files[i]);
        }
      };
      {
        std::vector<std::jthread> helpers;
        for (unsigned t = 1; t < kThreads && files.size() > 1; ++t) helpers.emplace_back(work);
        work();
      }
      if (env_.stop.stop_requested()) return kExitFailed;
      for (std::size_t i = 0; i < files.size(); ++i) Tell(files[i], results[i]);
      for (const std::string& left : walker.VersionControlMet()) {
        if (args_.verbose && args_.format != "json") {
          env_.out << PrintableName(Shown(left)) << ": バージョン管理のフォルダーのため飛ばしました\n";
        }
      }
    }
    if (env_.stop.stop_requested()) return kExitFailed;
    if (args_.verbose) {
      env_.err << "一致 " << totals_.agrees << "・不一致 " << totals_.differs << "・飛ばしました " << totals_.skipped
               << "・失敗 " << totals_.failed << '\n';
    }
    return totals_.differs == 0 && totals_.failed == 0 ? kExitOk : kExitFailed;
  }

 private:
  CheckResult CheckOne(const BatchFile& file) {
    K expected = args_.expected;
    if (rules_ && !file.skipped_link && file.refused == Outcome::Ok) {
      const Rule rule = rules_->For(file);
      if (rule.state == Rule::State::Failed) {
        CheckResult failed;
        failed.message = rule.note;
        return failed;
      }
      if (rule.state != Rule::State::Set && args_.editorconfig) {
        CheckResult skipped;
        skipped.verdict = CheckVerdict::Skipped;
        skipped.message = SkippedMessage(rule);
        return skipped;
      }
      expected = rule.kind;
    }
    return CheckBatchFile(env_.fs, file, expected, env_.stop);
  }

  // With no path named, the current folder's files are named as they are below it.
  std::string_view Shown(std::string_view source) const {
    return args_.paths.empty() && args_.walk.files_from.empty() && source.starts_with("./") ? source.substr(2)
                                                                                           : source;
  }

  void Tell(const BatchFile& file, const CheckResult& result) {
    const std::string_view name = Shown(file.source);
    switch (result.verdict) {
      case CheckVerdict::Agrees: ++totals_.agrees; break;
      case CheckVerdict::Differs: ++totals_.differs; break;
      case CheckVerdict::Skipped: ++totals_.skipped; break;
      case CheckVerdict::Failed: ++totals_.failed; break;
    }
    const bool quiet = result.verdict == CheckVerdict::Agrees || result.verdict == CheckVerdict::Skipped;
    if (quiet && !args_.verbose) return;
    if (args_.format == "json") {
      const LineEndingCounts& c = result.counts;
      env_.out << "{\"path\":" << JsonString(name) << ",\"expected\":" << JsonKind(result.expected)
               << ",\"found\":" << FoundName(result) << ",\"crlf\":" << c.crlf << ",\"lf\":" << c.lf
               << ",\"cr\":" << c.cr << ",\"verdict\":\"" << VerdictName(result.verdict)
               << "\",\"message\":" << JsonString(result.message) << "}\n";
    } else if (result.verdict == CheckVerdict::Failed) {
      Complain(env_, std::string(name), result.message);
    } else {
      env_.out << PrintableName(name) << ": " << result.message << '\n';
    }
  }

  const Environment& env_;
  const CheckArguments& args_;
  std::optional<EditorConfigRules> rules_;
  Totals totals_;
};

}  // namespace

CLI::App* AddCheckCommand(CLI::App& app, CheckArguments& args, bool ja) {
  const auto say = [ja](std::string_view english, std::string_view japanese) {
    return std::string(Say(ja, english, japanese));
  };
  CLI::App* check = app.add_subcommand(
      "check", say("Read each file whole and tell those whose line endings are not what they should be: mixed, or of "
                   "another kind than -t KIND or the file's EditorConfig end_of_line says. Changes nothing.",
                   "各ファイルを最後まで読み、改行が混在しているものや、-t KIND または EditorConfig の end_of_line "
                   "と違う種類のものを知らせます。ファイルは変えません。"));
  check->add_option("PATH", args.paths,
                    say("Files and folders to check (default: the current folder, unless --files-from is given)",
                        "調べるファイルとフォルダー（省略すると現在のフォルダー。--files-from のときを除く）"));
  check->add_option("-t,--to", args.expected,
                    say("The kind every file should have: dos (crlf), unix (lf) or mac (cr)",
                        "どのファイルもこの種類であるべき: dos (crlf)、unix (lf)、mac (cr)"))
      ->transform(KindName(ja));
  check->add_flag("--editorconfig", args.editorconfig,
                  say("Take each file's kind from the end_of_line of its .editorconfig files; skip files it does not "
                      "set (without -t and --editorconfig, it is taken where set, and other files only must not be "
                      "mixed)",
                      "各ファイルの種類を .editorconfig の end_of_line から取り、設定のないファイルは飛ばします"
                      "（-t も --editorconfig もないときは、設定のあるところで取り、ほかのファイルは混在だけを"
                      "調べます）"));
  check->add_flag("-r,--recursive", args.recursive,
                  say("Take the files of the folders below the folders named too, hidden ones included, never .git, "
                      ".hg or .svn (never through a symbolic link)",
                      "指定したフォルダーの下のフォルダーのファイルも取ります。隠しフォルダーも含み、.git、.hg、"
                      ".svn は除きます（シンボリック リンクはたどりません）"));
  check->add_option("--include", args.include,
                    say("Take only files of folders whose names match PATTERN (*, ?, [...]); may be repeated",
                        "フォルダーからは名前が PATTERN（*、?、[...]）に合うファイルだけを取ります。繰り返し"
                        "指定できます"))
      ->type_name("PATTERN")
      ->allow_extra_args(false);
  AddWalkOptions(*check, args.walk, ja);
  check->add_flag("-v,--verbose", args.verbose,
                  say("Tell every file, those that agree and those skipped too, and the totals",
                      "合っているファイルや飛ばしたファイルも含めてすべてのファイルと、合計を知らせます"));
  check->add_option("--format", args.format,
                    say("text (default), or json: one JSON object a line", "text（既定）または json: 1 行に 1 つの JSON オブジェクト"))
      ->check(CLI::IsMember({"text", "json"}));
  check->footer(say(
      "Exit codes: 0 every file agrees, 1 a file does not or cannot be read, 2 wrong command line. A file that is "
      "not text (BINARY, or holding a NUL) and one with no line break agree with any kind.",
      "終了コード: 0 すべてのファイルが合っている、1 合っていないか読めないファイルがある、2 コマンドラインが"
      "正しくない。テキストでないファイル（BINARY、NUL を含む）と改行のないファイルはどの種類とも合います。"));
  return check;
}

int RunCheck(const Environment& env, const CheckArguments& args) {
  if (args.editorconfig && !EditorConfigRules::Available()) {
    env.err << "check: " << Say(env.japanese, kNoEditorConfig, kNoEditorConfigJa) << '\n' << RunWithHelp(env.japanese)
            << '\n';
    return kExitUsage;
  }
  if (args.editorconfig && args.expected != K::None) {
    env.err << "check: " << Say(env.japanese, "-t and --editorconfig exclude each other",
                                "-t と --editorconfig は同時に指定できません")
            << '\n' << RunWithHelp(env.japanese) << '\n';
    return kExitUsage;
  }
  return Checker(env, args).Run();
}

}  // namespace tarnwhistle::cli
