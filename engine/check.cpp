#include "check.h"

#include "messages.h"

namespace tarnwhistle {
namespace {

using K = LineEndingKind;

CheckFound FoundIn(const Examination& e) {
  const LineEndingCounts& c = e.counts;
  if (e.verdict == K::Binary || c.nul) return CheckFound::Binary;
  if (c.Mixed()) return CheckFound::Mixed;
  if (c.crlf != 0) return CheckFound::Crlf;
  if (c.lf != 0) return CheckFound::Lf;
  if (c.cr != 0) return CheckFound::Cr;
  return CheckFound::None;
}

K KindOf(CheckFound found) {
  switch (found) {
    case CheckFound::Crlf: return K::MsDos;
    case CheckFound::Lf: return K::Unix;
    case CheckFound::Cr: return K::Mac;
    default: return K::None;
  }
}

// "CRLF 12・LF 3": the kinds that occur, with their counts.
std::string Counts(const LineEndingCounts& c) {
  std::string text;
  const auto add = [&text](std::string_view name, std::uint64_t count) {
    if (count == 0) return;
    if (!text.empty()) text += "・";
    text += std::string(name) + " " + std::to_string(count);
  };
  add("CRLF", c.crlf);
  add("LF", c.lf);
  add("CR", c.cr);
  return text;
}

}  // namespace

std::string_view LineEndName(K kind) {
  switch (kind) {
    case K::MsDos: return "CRLF";
    case K::Unix: return "LF";
    case K::Mac: return "CR";
    default: return {};
  }
}

CheckResult JudgeLineEndings(const Examination& examination, K expected) {
  CheckResult result;
  result.expected = expected;
  result.counts = examination.counts;
  result.found = FoundIn(examination);
  switch (result.found) {
    case CheckFound::Binary:
      result.verdict = CheckVerdict::Agrees;
      result.message = examination.counts.nul ? "テキストではありません（NUL 文字を含んでいます）"
                                              : "テキストではありません（バイナリ ファイルです）";
      return result;
    case CheckFound::None:
      result.verdict = CheckVerdict::Agrees;
      result.message = "改行がありません";
      return result;
    case CheckFound::Mixed:
      result.verdict = CheckVerdict::Differs;
      result.message = "混在（" + Counts(result.counts) + "）";
      break;
    default:
      result.verdict = expected == K::None || KindOf(result.found) == expected ? CheckVerdict::Agrees
                                                                              : CheckVerdict::Differs;
      result.message = Counts(result.counts);
      break;
  }
  if (expected != K::None) result.message += "、期待 " + std::string(LineEndName(expected));
  return result;
}

CheckResult CheckBatchFile(platform::FileReader& fs, const BatchFile& file, K expected, const std::stop_token& stop) {
  CheckResult result;
  result.expected = expected;
  if (const Result refused = Refusal(file); !refused.ok()) {
    if (refused.outcome == Outcome::SkippedLink) result.verdict = CheckVerdict::Skipped;
    result.message = messages::Describe(refused);
    return result;
  }
  const Examination examination = ExamineFile(fs, file.place, stop);
  if (examination.outcome != Outcome::Ok) {
    result.message = messages::Describe(examination);
    return result;
  }
  return JudgeLineEndings(examination, expected);
}

}  // namespace tarnwhistle
