#include "conversion_request.h"


namespace tarnwhistle {
namespace {

using K = LineEndingKind;

// Checks 6 and 7, which look at the output's name and where it leads. `output` is told
// where that is, or why it leads nowhere.
// Ok when neither refuses.
Outcome OutputRefusal(platform::FileSystem& fs, const ConversionRequest& request,
                      const platform::OrReason<platform::Place>& source, platform::OrReason<platform::Place>& output) {
  if (request.output == request.source) return Outcome::SameFile;
  if (request.output.empty()) return Outcome::NoOutputName;
  output = fs.Locate(request.output);
  if (output && source && platform::SameExistingFile(fs, source.value, output.value)) return Outcome::SameFile;
  return Outcome::Ok;
}

}  // namespace

Result CheckAndConvert(platform::FileSystem& fs, const ConversionRequest& request, const std::stop_token& stop,
                      const ConversionProgress& progress) {
  LineEndingKind kind = request.detected;  // what the source is taken to be
  const auto not_convertible = [](const ControlFound& found) {
    Result refused{Outcome::NotConvertible};
    refused.found = found;
    return refused;
  };
  if (request.source.empty()) return {Outcome::NoSourceName};
  if (!request.detect && request.detected == K::Binary) return not_convertible(request.detected_found);
  if (!request.detect && request.detected == K::None) return {Outcome::NotDetected};
  if (request.target == K::None) return {Outcome::NoTarget};

  // Located once: the file checked against the output is the file opened.
  const platform::OrReason<platform::Place> place = fs.Locate(request.source);
  platform::OrReason<platform::Place> output = platform::FromErrno(ENOENT);  // until located
  bool output_checked = false;
  if (!request.detect && request.detected != request.target) {
    if (const Outcome refused = OutputRefusal(fs, request, place, output); refused != Outcome::Ok) return {refused};
    output_checked = true;
  }
  if (!place) return {Outcome::SourceCannotOpen, place.reason};
  Source source;
  if (Result opened = OpenSource(fs, place.value, source, stop); !opened.ok()) return opened;
  if (request.detected_file && source.file->Opened().identity != *request.detected_file) {
    return {Outcome::ChangedSinceDetected};
  }
  Result done;  // Ok, or AlreadyTarget for a copy
  if (request.detect) {
    kind = source.verdict;
    if (kind == K::Binary) return not_convertible(source.found);
    if (kind == K::None && !request.copy_unneeded) return {Outcome::NoLineBreak};
    done.copied = done.no_line_break = kind == K::None;
  }
  if (kind == request.target) {
    bool all = false, nul = false;
    if (Result scanned = AllLineEndingsOf(source, request.target, all, &nul, stop); !scanned.ok()) return scanned;
    // A file that is not text (a NUL) is refused as before, not copied as if it were.
    if (all && (!request.copy_unneeded || nul)) return {Outcome::SameKind};
    done.copied = done.copied || all;
  }
  if (!output_checked) {
    if (const Outcome refused = OutputRefusal(fs, request, place, output); refused != Outcome::Ok) return {refused};
  }
  if (!output) return {Outcome::OutputCannotWrite, output.reason};
  const Result written = WriteConverted(fs, source, output.value, done.copied ? K::None : request.target, stop,
                                        progress, request.keep_modified);
  if (!written.ok()) return written;
  if (done.copied) done.outcome = Outcome::AlreadyTarget;
  return done;
}

}  // namespace tarnwhistle
