#include "convert_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <map>
#include <ostream>

#include "engine/batch.h"
#include "engine/conversion.h"
#include "engine/conversion_request.h"
#include "engine/messages.h"
#include "editorconfig_rules.h"
#include "engine/stream_conversion.h"
#include "language.h"
#include "platform/replacement_file.h"
#include "printable_name.h"

namespace tarnwhistle::cli {
namespace {

using K = LineEndingKind;

constexpr std::string_view kStandardStream = "-";

// What a shell's redirection would give a new file, before the umask.
constexpr std::uint32_t kNewFilePermissions = 0666;

int UsageError(const Environment& env, std::string_view problem) {
  env.err << "convert: " << problem << '\n' << RunWithHelp(env.japanese) << '\n';
  return kExitUsage;
}

// A usage error in the user's language.
int UsageError(const Environment& env, std::string_view english, std::string_view japanese) {
  return UsageError(env, Say(env.japanese, english, japanese));
}

// Says how one conversion of `source` into `output` went, and returns its exit code: a
// refusal or a failure on stderr (a failure, or a refusal for what the file holds, with
// the name of the file it concerns), nothing when the user stopped it, and on stdout
// "変換しました" (or "変換不要（コピーしました）") when `say_done`.
int Report(const Environment& env, const Result& result, const std::string& source, const std::string& output,
           bool say_done) {
  if (result.outcome == Outcome::Cancelled) return kExitFailed;  // stopped on request: nothing to say
  if (result.ok()) {
    if (say_done) env.out << messages::Describe(result) << '\n';
    return kExitOk;
  }
  if (result.Failed() || result.outcome == Outcome::NotConvertible) {
    Complain(env, result.outcome == Outcome::OutputCannotWrite ? output : source, messages::Describe(result));
  } else {
    env.err << messages::Describe(result) << '\n';
  }
  return kExitFailed;
}

int RunPair(const Environment& env, const ConvertArguments& args) {
  ConversionRequest request;
  request.source = args.paths[0];
  request.output = args.paths[1];
  request.detected = args.from;
  request.target = args.to;
  request.detect = args.from == K::None;
  request.copy_unneeded = true;
  request.keep_modified = args.keep_date;
  return Report(env, CheckAndConvert(env.fs, request, env.stop), request.source, request.output, !args.quiet);
}

// The two ends of a filter in a pipe: standard input or a file in, standard output or a
// file out (replaced whole on success only, as in every other form).
struct StreamEnds {
  std::unique_ptr<platform::ByteSource> input;
  std::unique_ptr<platform::ReadHandle> file;
  std::unique_ptr<platform::ByteSink> standard_output;
  std::unique_ptr<platform::ReplacementFile> replacement;

  platform::ByteSource& In() { return file ? *file : *input; }
  platform::ByteSink& Out() { return replacement ? replacement->Sink() : *standard_output; }
};

// Opens both ends; false, having said why, when one cannot be opened.
bool OpenStreamEnds(const Environment& env, const std::string& source, const std::string& output, StreamEnds& ends) {
  if (source == kStandardStream) {
    ends.input = env.input();
  } else if (auto opened = platform::OpenPathForRead(env.fs, source); opened) {
    ends.file = std::move(opened.value);
  } else {
    Complain(env, source, messages::Describe({Outcome::SourceCannotOpen, opened.reason}));
    return false;
  }
  if (output == kStandardStream) {
    // `convert f - >> f` and `convert - - < f >> f` would never end: refused before a byte is read.
    const std::optional<platform::FileIdentity> written = env.output_file();
    const std::optional<platform::FileIdentity> read =
        ends.file ? std::optional<platform::FileIdentity>(ends.file->Opened().identity) : env.input_file();
    if (written && read && written->SameFile(*read)) {
      env.err << messages::Text(Outcome::SameFile) << '\n';
      return false;
    }
    env.out.flush();
    ends.standard_output = env.output();
    return true;
  }
  const auto place = env.fs.Locate(output);
  auto created = place ? platform::ReplacementFile::Create(
                             env.fs, place.value, ends.file ? ends.file->Opened().permissions : kNewFilePermissions)
                       : platform::OrReason<std::unique_ptr<platform::ReplacementFile>>(place.reason);
  if (!created) {
    Complain(env, output, messages::Describe({Outcome::OutputCannotWrite, created.reason}));
    return false;
  }
  ends.replacement = std::move(created.value);
  return true;
}

int RunStream(const Environment& env, const ConvertArguments& args) {
  const std::string& source = args.paths[0];
  const std::string& output = args.paths[1];
  StreamEnds ends;
  if (!OpenStreamEnds(env, source, output, ends)) return kExitFailed;
  Result result = ConvertStream(ends.In(), ends.Out(), args.from, args.to, env.stop, ends.file.get());
  if (result.ok() && ends.replacement) result = Publish(*ends.replacement, env.stop);
  // On standard output, the converted text itself says it is done.
  return Report(env, result, source, output, output != kStandardStream && !args.quiet);
}

// One line a file: its name and what became of it; for a dry run, what would.
void PrintResult(const Environment& env, const BatchSettings& settings, const BatchFile& file,
                 const Result& result) {
  if (result.outcome == Outcome::NotDone) return;
  env.out << PrintableName(file.source) << ": ";
  const bool written_elsewhere = file.output && !result.Failed() && result.outcome != Outcome::SkippedLink;
  if (settings.dry_run && result.outcome == Outcome::Ok) {
    env.out << DisplayName(result.detected) << " -> "
            << DisplayName(file.target != K::None ? file.target : settings.target);
  } else {
    env.out << messages::Describe(result);
  }
  if (settings.dry_run && written_elsewhere) env.out << ": " << PrintableName(OutputPath(file));
  env.out << '\n';
}

// The files of `plan`, each converted to the end_of_line its EditorConfig sets; a file
// it sets none for is told and left as it is (not copied below an output folder either:
// nothing says what it should be).
int RunByEditorConfig(const Environment& env, BatchPlan& plan, const BatchSettings& settings,
                      const BatchObserver& print) {
  EditorConfigRules rules(env.fs);
  BatchTotals totals;
  std::size_t unset = 0;
  std::vector<BatchFile> found, taken;
  std::vector<std::size_t> taken_at;                   // each file's place among those found
  struct Said {
    std::size_t at;  // among those found
    std::string text;
    bool failure;  // on standard error
  };
  std::vector<Said> said;  // the files left out, told in the walk's order
  while (!env.stop.stop_requested() && (found.clear(), plan.Next(found, kBatchChunk))) {
    taken.clear();
    taken_at.clear();
    said.clear();
    for (std::size_t i = 0; i < found.size(); ++i) {
      BatchFile& file = found[i];
      const EditorConfigRule rule =
          file.skipped_link || file.refused != Outcome::Ok ? EditorConfigRule{} : rules.For(file);
      if (rule.state == EditorConfigRule::State::Failed) {
        said.push_back({i, rule.note, true});
        ++totals.failed;
      } else if (rule.state == EditorConfigRule::State::Set || file.skipped_link || file.refused != Outcome::Ok) {
        file.target = rule.kind;
        taken.push_back(std::move(file));
        taken_at.push_back(i);
      } else {
        said.push_back({i, SkippedMessage(rule), false});
        ++unset;
      }
    }
    std::size_t next_said = 0;
    const auto tell_until = [&](std::size_t at) {
      for (; next_said < said.size() && said[next_said].at < at; ++next_said) {
        const Said& one = said[next_said];
        if (one.failure) {
          Complain(env, found[one.at].source, one.text);
        } else {
          env.out << PrintableName(found[one.at].source) << ": " << one.text << '\n';
        }
      }
    };
    const BatchTotals done = RunBatch(
        env.fs, taken, settings,
        [&](std::size_t i, const Result& result) {
          tell_until(taken_at[i]);
          print(taken[i], result);
        },
        env.stop, BatchWorkers(settings));
    if (!env.stop.stop_requested()) tell_until(found.size());
    totals.converted += done.converted;
    totals.already_target += done.already_target;
    totals.not_convertible += done.not_convertible;
    totals.copied += done.copied;
    totals.skipped += done.skipped;
    totals.failed += done.failed;
    totals.not_done += done.not_done;
  }
  env.err << BatchSummary(totals) << (unset != 0 ? "・飛ばしました " + std::to_string(unset) : "") << '\n';
  const bool stopped = env.stop.stop_requested() && totals.not_done == 0;
  return totals.failed == 0 && totals.not_done == 0 && !stopped ? kExitOk : kExitFailed;
}

int RunBatchFiles(const Environment& env, const ConvertArguments& args) {
  BatchSettings settings{args.to,      args.in_place ? std::string() : args.output_folder,
                         args.recursive, args.include, args.dry_run, args.keep_date};
  settings.excluded = args.walk.excluded;
  if (!args.walk.files_from.empty()) settings.listed_from = args.paths.size();
  std::vector<std::string> paths = args.paths;
  if (const int read = ReadFilesFrom(env, "convert", args.walk, paths); read != kExitOk) return read;
  BatchPlan plan(env.fs, paths, settings);
  if (const BatchRefusal refused = plan.Refusal()) {
    const std::string output = PrintableName(settings.output_folder);
    const std::string path = PrintableName(paths[refused.path]);
    if (refused.outcome == Outcome::OutputFolderInsideSource) {
      return UsageError(env,
                        "the output folder " + output + " is, or lies inside, " + path +
                            ", a folder being converted: use --in-place to convert in place",
                        "出力フォルダー " + output + " は変換するフォルダー " + path +
                            " であるか、その中にあります。その場で変換するには --in-place を使ってください");
    }
    return UsageError(env,
                      "the output of " + path + " in " + output + " would be " + path +
                          " itself: use --in-place to convert in place",
                      output + " への " + path + " の出力は " + path +
                          " そのものです。その場で変換するには --in-place を使ってください");
  }
  const auto print = [&env, &settings, &args](const BatchFile& file, const Result& result) {
    if (!args.quiet || result.Failed()) PrintResult(env, settings, file, result);
  };
  if (args.editorconfig) return RunByEditorConfig(env, plan, settings, print);
  const BatchTotals totals = RunBatch(env.fs, plan, print, env.stop, BatchWorkers(settings));
  const bool ok = totals.failed == 0 && totals.not_done == 0;
  if (!args.quiet || !ok) env.err << BatchSummary(totals) << '\n';
  return ok ? kExitOk : kExitFailed;
}

}  // namespace

// The one check of a kind's name: dos, unix and mac, or the line ending itself (crlf,
// lf, cr), in any case. It hands CLI11 the kind's code to store.
CLI::Validator KindName(bool ja) {
  return CLI::Validator(
      [ja](std::string& name) -> std::string {
        static const std::map<std::string, K> kNames = {{"dos", K::MsDos}, {"crlf", K::MsDos}, {"unix", K::Unix},
                                                        {"lf", K::Unix},   {"mac", K::Mac},    {"cr", K::Mac}};
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        const auto kind = kNames.find(lower);
        if (kind == kNames.end()) {
          return name + std::string(Say(ja, " is not a kind: give dos (crlf), unix (lf) or mac (cr)",
                                        " は種類ではありません: dos (crlf)、unix (lf)、mac (cr) の"
                                        "どれかを指定してください"));
        }
        name = std::to_string(static_cast<int>(kind->second));
        return {};
      },
      "KIND");
}

CLI::App* AddConvertCommand(CLI::App& app, ConvertArguments& args, bool ja) {
  const auto say = [ja](std::string_view english, std::string_view japanese) {
    return std::string(Say(ja, english, japanese));
  };
  CLI::App* convert = app.add_subcommand(
      "convert", say("Write a copy of SRC with every line ending (CR LF, LF or CR) made KIND's, replacing OUT whole "
                     "only on success; or convert many files.",
                     "SRC の改行（CR LF、LF、CR）をすべて KIND のものにしたコピーを書き、成功したときだけ OUT を"
                     "丸ごと置き換えます。多くのファイルも変換します。"));
  convert
      ->add_option("-t,--to", args.to,
                   say("The kind to convert to: dos (crlf), unix (lf) or mac (cr)",
                       "変換後の種類: dos (crlf)、unix (lf)、mac (cr)"))
      ->transform(KindName(ja));
  convert
      ->add_option("-f,--from", args.from,
                   say("The kind SRC is, taken as given without detecting it (a BINARY first line is then converted "
                       "too; a NUL byte still refuses it)",
                       "SRC の種類。検出せずにこの種類とみなします（最初の行が BINARY でも変換します。NUL バイトが"
                       "あれば変換しません）"))
      ->transform(KindName(ja));
  convert->add_option("PATH", args.paths,
                      say("SRC OUT: convert one file into another ('-' for standard input or output); a SRC that needs "
                          "no conversion (of KIND already, or without a line break) is copied as it is. With -o or "
                          "--in-place: the files and folders to convert",
                          "SRC OUT: ファイルを別のファイルに変換します（'-' は標準入力か標準出力）。変換の要らない "
                          "SRC（すでに KIND のもの、改行のないもの）はそのままコピーします。-o か --in-place のとき: "
                          "変換するファイルとフォルダー"));
  convert
      ->add_option("-o,--output-folder", args.output_folder,
                   say("Write each file below DIR: each folder named under its own name, as cp -r places it; files "
                       "that need or allow no conversion are copied, so that DIR holds them all",
                       "各ファイルを DIR の下に書きます。指定したフォルダーは cp -r と同じく自分の名前で置きます。"
                       "変換の要らないファイルと変換できないファイルもコピーし、DIR にすべてそろえます"))
      ->type_name("DIR")
      ->each([&args](const std::string&) { args.output_folder_given = true; });
  convert->add_flag("--in-place", args.in_place,
                    say("Replace each file by its conversion", "各ファイルを変換したものに置き換えます"));
  convert->add_flag("-r,--recursive", args.recursive,
                    say("Take the files of the folders below the folders named too, hidden ones included, never "
                        ".git, .hg or .svn (never through a symbolic link)",
                        "指定したフォルダーの下のフォルダーのファイルも対象にします。隠しフォルダーも含み、.git、"
                        ".hg、.svn は除きます（シンボリック リンクはたどりません）"));
  convert
      ->add_option("--include", args.include,
                   say("Take only files of folders whose names match PATTERN (*, ?, [...]); may be repeated",
                       "フォルダーのファイルのうち、名前が PATTERN（*、?、[...]）に合うものだけを対象にします。"
                       "何度でも指定できます"))
      ->type_name("PATTERN")
      ->allow_extra_args(false);
  AddWalkOptions(*convert, args.walk, ja);
  convert->add_flag("--dry-run", args.dry_run,
                    say("Print what would be done, deciding as a real run would, and write nothing",
                        "実際の実行と同じく判定して、何をするかを表示するだけで、何も書きません"));
  convert->add_flag("--editorconfig", args.editorconfig,
                    say("With -o DIR or --in-place, in place of --to: convert each file to the end_of_line of its "
                        ".editorconfig files, and skip the files they set none for",
                        "-o DIR か --in-place と共に、--to の代わりに: 各ファイルを .editorconfig の end_of_line "
                        "の種類に変換し、設定のないファイルは飛ばします"));
  convert->add_flag("-k,--keep-date", args.keep_date,
                    say("Give each output its source's modification time", "各出力に元のファイルの更新日時を付けます"));
  convert->add_flag("-q,--quiet", args.quiet,
                    say("Say nothing of what went well: only refusals and failures",
                        "うまくいったことは表示せず、拒否と失敗だけを表示します"));
  return convert;
}

int RunConvert(const Environment& env, const ConvertArguments& args) {
  if (args.editorconfig && !EditorConfigRules::Available()) return UsageError(env, kNoEditorConfig, kNoEditorConfigJa);
  if (args.editorconfig && args.to != K::None) {
    return UsageError(env, "--to and --editorconfig exclude each other",
                      "--to と --editorconfig は一緒に指定できません");
  }
  if (!args.editorconfig && args.to == K::None) {
    return UsageError(env, "--to is required (or --editorconfig)", "--to を指定してください（または --editorconfig）");
  }
  if (args.editorconfig && !args.output_folder_given && !args.in_place) {
    return UsageError(env, "--editorconfig needs -o DIR or --in-place",
                      "--editorconfig には -o DIR か --in-place が要ります");
  }
  if (args.output_folder_given && args.in_place) {
    return UsageError(env, "-o and --in-place exclude each other", "-o と --in-place は一緒に指定できません");
  }
  if (args.output_folder_given || args.in_place) {
    if (args.output_folder_given && args.output_folder.empty()) {
      return UsageError(env, "-o needs a folder", "-o にはフォルダーを指定してください");
    }
    if (args.paths.empty() && args.walk.files_from.empty()) {
      return UsageError(env, "no file or folder to convert", "変換するファイルかフォルダーを指定してください");
    }
    if (args.from != K::None) {
      return UsageError(env, "--from is for one file only", "--from は 1 つのファイルにだけ指定できます");
    }
    if (std::count(args.paths.begin(), args.paths.end(), std::string(kStandardStream)) != 0) {
      return UsageError(env, "'-' is for one file only, without -o or --in-place",
                        "'-' は -o も --in-place もなしに 1 つのファイルにだけ使えます");
    }
    return RunBatchFiles(env, args);
  }
  if (args.recursive || !args.include.empty() || args.dry_run || !args.walk.excluded.empty() ||
      !args.walk.files_from.empty() || args.walk.null) {
    return UsageError(env, "-r, --include, --exclude, --files-from and --dry-run need -o DIR or --in-place",
                      "-r、--include、--exclude、--files-from、--dry-run には -o DIR か --in-place が要ります");
  }
  if (args.paths.size() < 2) {
    return UsageError(env, "SRC and OUT are required (or -o DIR or --in-place with PATH...)",
                      "SRC と OUT を指定してください（多くのファイルには -o DIR か --in-place と PATH...）");
  }
  if (args.paths.size() > 2) {
    return UsageError(env, "more than SRC and OUT given: use -o DIR or --in-place for many files",
                      "SRC と OUT のほかにも指定されています: "
                      "多くのファイルには -o DIR か --in-place を使ってください");
  }
  if (args.paths[0] == kStandardStream || args.paths[1] == kStandardStream) return RunStream(env, args);
  return RunPair(env, args);
}

}  // namespace tarnwhistle::cli
