#include "batch_file.h"

#include <algorithm>
#include <map>
#include <optional>

#include "batch_plan.h"

namespace tarnwhistle {
namespace {

using platform::FileInfo;
using platform::Folder;
using platform::OrReason;
using platform::Place;
using platform::Reason;

// A failure of `file`, or NotDone when the stop came first; what was found is kept.
Result Failed(Result result, const Result& failure) {
  result.outcome = failure.outcome == Outcome::Cancelled ? Outcome::NotDone : failure.outcome;
  result.reason = failure.reason;
  result.copied = false;
  return result;
}

// In place, what becomes of a file named as this program's working files are, when it is
// not to be converted as any other file is: one of a run still going is left to it; one
// left behind by a run of this boot that is gone is removed. Only a regular file of the
// user's own with no other name is removed: anything else, a user's file that happens to
// be named so (or a hard link of one), is converted as a file like any other.
std::optional<Result> AsWorkingFile(platform::FileSystem& fs, const BatchFile& file, const BatchSettings& settings) {
  if (file.output) return std::nullopt;
  const platform::WorkingFileState state = platform::WorkingFileStateOf(file.place.name);
  if (state == platform::WorkingFileState::InUse) return Result{Outcome::PassedOver};
  if (state != platform::WorkingFileState::Abandoned) return std::nullopt;
  const FileInfo info = fs.Stat(file.place);
  if (info.kind != FileInfo::Kind::File || info.owner != fs.UserId() || info.links != 1) return std::nullopt;
  Result removed{Outcome::Removed};
  removed.planned = settings.dry_run;
  if (settings.dry_run) return removed;
  if (const Reason failed = fs.Remove(file.place); failed != Reason::kNone) return Result{Outcome::OutputCannotWrite, failed};
  return removed;
}

// What a file needs: a conversion (`convert`), or none (already of the kind, or no line
// break), or it allows none (BINARY, or a NUL: `nul`). A dry run reads the whole file to
// know what a conversion would meet.
Result WhatItNeeds(Source& source, LineEndingKind target, bool dry_run, const std::stop_token& stop, bool& convert,
                   bool& nul) {
  convert = source.verdict != LineEndingKind::Binary && source.verdict != LineEndingKind::None;
  nul = false;
  if (!convert || (source.verdict != target && !dry_run)) return {};
  bool all = false;
  const Result scanned = AllLineEndingsOf(source, target, all, &nul, stop);
  convert = !all && !nul;
  return scanned;
}

// What a file that is not converted ends in, and whether it is copied (with an output
// folder, so that the folder holds every file).
void NotConverted(Result& result, const Source& source, bool nul, bool mirror, bool dry_run) {
  if (source.verdict == LineEndingKind::Binary || nul) {
    result.outcome = Outcome::NotConvertible;
    if (nul) {
      result.reason = Reason::kNulCharacter;
    } else {
      result.found = source.found;
    }
  } else {
    result.outcome = Outcome::AlreadyTarget;
    result.no_line_break = source.verdict == LineEndingKind::None;
  }
  result.copied = mirror;
  result.planned = dry_run;
}

}  // namespace

Result Refusal(const BatchFile& file) {
  if (file.skipped_link) return {Outcome::SkippedLink};
  if (file.refused != Outcome::Ok) return Failed({}, {file.refused, file.reason});
  return {};
}

Result ConvertBatchFile(platform::FileSystem& fs, const BatchFile& file, const BatchSettings& settings,
                        const std::stop_token& stop, const BatchProgress& progress, PendingFile* pending) {
  if (Result refused = Refusal(file); !refused.ok()) return refused;
  if (std::optional<Result> working = AsWorkingFile(fs, file, settings)) return *working;
  Result result;
  Source source;
  if (Result opened = OpenSource(fs, file.place, source, stop); !opened.ok()) return Failed(result, opened);
  result.detected = source.verdict;
  bool convert = false, nul = false;
  const LineEndingKind target = file.target != LineEndingKind::None ? file.target : settings.target;
  if (Result needs = WhatItNeeds(source, target, settings.dry_run, stop, convert, nul); !needs.ok()) {
    return Failed(result, needs);
  }
  // Where the output goes: itself in place, or below the output folder.
  const OrReason<Place> output = file.output ? file.output->PlaceFor(fs, file, settings.dry_run) : file.place;
  if (!output) return Failed(result, {Outcome::OutputCannotWrite, output.reason});
  std::uint64_t told = 0;
  // Bytes read again (the copy of a file found not to be text) are not counted twice.
  const ConversionProgress per_file = [&progress, &told](std::uint64_t done, std::uint64_t, Stage) {
    if (progress && done > told) progress(done - told);
    told = std::max(told, done);
  };
  if (convert) {
    result.planned = settings.dry_run;
    if (settings.dry_run) return result;
    Written written = WriteUnpublished(fs, source, output.value, target, stop, per_file, settings.keep_modified);
    if (written.result.ok() && pending != nullptr && written.file->ReplacesExisting()) {
      *pending = {std::move(written.file), std::move(source.file)};
      return result;
    }
    if (written.result.ok()) {
      const Result published = Publish(*written.file, stop);
      return published.ok() ? result : Failed(result, published);
    }
    if (written.result.outcome != Outcome::NotConvertible) return Failed(result, written.result);
    nul = true;  // the rest is as for a file that allows no conversion
    if (Reason rewound = source.file->Rewind(); rewound != Reason::kNone) {
      return Failed(result, {Outcome::SourceReadFailed, rewound});
    }
  }
  NotConverted(result, source, nul, file.output != nullptr, settings.dry_run);
  if (!result.copied || settings.dry_run) return result;
  const Result copied = WriteConverted(fs, source, output.value, LineEndingKind::None, stop, per_file, settings.keep_modified);
  return copied.ok() ? result : Failed(result, copied);
}

void PublishGroup(platform::FileSystem& fs, std::span<Result> results, std::span<PendingFile> pending,
                  const std::stop_token& stop) {
  const auto fail = [&](std::size_t i, Reason reason) {
    results[i] = Failed(results[i], {Outcome::OutputCannotWrite, reason});
    pending[i] = {};
  };
  for (std::size_t i = 0; i < pending.size(); ++i) {
    if (!pending[i].file) continue;
    if (const Reason prepared = pending[i].file->Prepare(false); prepared != Reason::kNone) fail(i, prepared);
  }
  std::map<std::uint64_t, Reason> synced;  // by device
  for (std::size_t i = 0; i < pending.size(); ++i) {
    if (!pending[i].file) continue;
    const Folder& folder = pending[i].file->Target().folder;
    const auto [device, first] = synced.try_emplace(fs.StatFolder(folder).identity.device, Reason::kNone);
    if (first) device->second = fs.SyncFileSystem(folder);
    if (device->second != Reason::kNone) fail(i, device->second);
  }
  for (std::size_t i = 0; i < pending.size(); ++i) {
    if (!pending[i].file) continue;
    if (stop.stop_requested()) {
      results[i] = Failed(results[i], {Outcome::Cancelled});
    } else if (const Reason published = pending[i].file->Publish(); published != Reason::kNone) {
      fail(i, published);
    }
    pending[i] = {};
  }
}

}  // namespace tarnwhistle
