#include "conversion_request.h"

#include "messages.h"

namespace tarnwhistle {
namespace {

using K = LineEndingKind;

// Checks 6 and 7, which look at the output's name and where it leads. `output` is told
// where that is, or why it leads nowhere.
std::string_view OutputRefusal(platform::FileSystem& fs, const ConversionRequest& request,
                               const platform::OrReason<platform::Place>& source,
                               platform::OrReason<platform::Place>& output) {
  if (request.output == request.source) return messages::kSameFile;
  if (request.output.empty()) return messages::kNoOutputName;
  output = fs.Locate(request.output);
  if (output && source && platform::SameExistingFile(fs, source.value, output.value)) return messages::kSameFile;
  return {};
}

}  // namespace

std::string ConversionOutcome::Message() const {
  if (!refusal.empty()) return messages::WithNotes(refusal, {note});
  if (!result.ok()) return messages::ForStatus(result.status, result.reason);
  if (!copied) return std::string(messages::kConverted);
  return messages::WithNotes(messages::kAlreadyTarget,
                             {no_line_break ? messages::kNoLineBreakNote : "", messages::kCopiedNote});
}

ConversionOutcome CheckAndConvert(platform::FileSystem& fs, const ConversionRequest& request,
                                  const std::stop_token& stop, const ConversionProgress& progress) {
  ConversionOutcome outcome;
  LineEndingKind kind = request.detected;  // what the source is taken to be
  const auto refuse = [&outcome](std::string_view message) {
    outcome.refusal = message;
    return outcome;
  };
  const auto fail = [&outcome](Result result) {
    outcome.result = result;
    return outcome;
  };
  if (request.source.empty()) return refuse(messages::kNoSourceName);
  if (!request.detect && request.detected == K::Binary) {
    outcome.note = messages::ControlNote(request.detected_found);
    return refuse(messages::kBinarySource);
  }
  if (!request.detect && request.detected == K::None) return refuse(messages::kNotDetected);
  if (request.target == K::None) return refuse(messages::kNoTarget);

  // Located once: the file checked against the output is the file opened.
  const platform::OrReason<platform::Place> place = fs.Locate(request.source);
  platform::OrReason<platform::Place> output = platform::FromErrno(ENOENT);  // until located
  bool output_checked = false;
  if (!request.detect && request.detected != request.target) {
    if (std::string_view refusal = OutputRefusal(fs, request, place, output); !refusal.empty()) return refuse(refusal);
    output_checked = true;
  }
  if (!place) return fail({Status::SourceCannotOpen, place.reason});
  Source source;
  if (Result opened = OpenSource(fs, place.value, source, stop); !opened.ok()) return fail(opened);
  if (request.detected_file && source.file->Opened().identity != *request.detected_file) {
    return fail({Status::ChangedSinceDetected, platform::Reason::kChangedSinceDetected});
  }
  if (request.detect) {
    kind = source.verdict;
    if (kind == K::Binary) {
      outcome.note = messages::ControlNote(source.found);
      return refuse(messages::kBinarySource);
    }
    if (kind == K::None && !request.copy_unneeded) return refuse(messages::kNoLineBreak);
    outcome.copied = outcome.no_line_break = kind == K::None;
  }
  if (kind == request.target) {
    bool all = false, nul = false;
    if (Result scanned = AllLineEndingsOf(source, request.target, all, &nul, stop); !scanned.ok()) {
      return fail(scanned);
    }
    // A file that is not text (a NUL) is refused as before, not copied as if it were.
    if (all && (!request.copy_unneeded || nul)) return refuse(messages::kSameKind);
    outcome.copied = all;
  }
  if (!output_checked) {
    if (std::string_view refusal = OutputRefusal(fs, request, place, output); !refusal.empty()) return refuse(refusal);
  }
  if (!output) return fail({Status::OutputCannotWrite, output.reason});
  return fail(WriteConverted(fs, source, output.value, outcome.copied ? K::None : request.target, stop, progress,
                             request.keep_modified));
}

}  // namespace tarnwhistle
