#include "batch_file.h"

#include <algorithm>
#include <map>
#include <optional>

#include "batch_plan.h"
#include "messages.h"

namespace tarnwhistle {
namespace {

using platform::FileInfo;
using platform::Folder;
using platform::OrReason;
using platform::Place;
using platform::Reason;

// With an output folder, a file that is not converted is copied there; a dry run says
// it would be.
std::string_view CopyNote(bool mirror, bool dry_run) {
  if (!mirror) return {};
  return dry_run ? "コピー" : messages::kCopiedNote;
}

BatchResult Failed(BatchResult result, Result outcome) {
  result.verdict = outcome.status == Status::Cancelled ? BatchVerdict::NotDone : BatchVerdict::Failed;
  result.message = messages::ForStatus(outcome.status, outcome.reason);
  return result;
}

// In place, what becomes of a file named as this program's working files are, when it is
// not to be converted as any other file is: one of a run still going is left to it; one
// left behind by a run of this boot that is gone is removed. Only a regular file of the
// user's own with no other name is removed: anything else, a user's file that happens to
// be named so (or a hard link of one), is converted as a file like any other.
std::optional<BatchResult> AsWorkingFile(platform::FileSystem& fs, const BatchFile& file, const BatchSettings& settings) {
  if (file.output) return std::nullopt;
  const platform::WorkingFileState state = platform::WorkingFileStateOf(file.place.name);
  if (state == platform::WorkingFileState::InUse) {
    return BatchResult{BatchVerdict::PassedOver, false, {}, "変換中の作業ファイルのため飛ばしました"};
  }
  if (state != platform::WorkingFileState::Abandoned) return std::nullopt;
  const FileInfo info = fs.Stat(file.place);
  if (info.kind != FileInfo::Kind::File || info.owner != fs.UserId() || info.links != 1) return std::nullopt;
  if (settings.dry_run) return BatchResult{BatchVerdict::Removed, false, {}, "残っていた作業ファイルを削除します"};
  if (const Reason removed = fs.Remove(file.place); removed != Reason::kNone) {
    return Failed({}, {Status::OutputCannotWrite, removed});
  }
  return BatchResult{BatchVerdict::Removed, false, {}, "残っていた作業ファイルを削除しました"};
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

// What a person is told of a file that is not converted, and whether it is copied.
void NotConverted(BatchResult& result, const Source& source, bool nul, bool mirror, bool dry_run) {
  if (source.verdict == LineEndingKind::Binary || nul) {
    result.verdict = BatchVerdict::NotConvertible;
    const std::string found = nul ? std::string(messages::kNulNote) : messages::ControlNote(source.found);
    result.message = messages::WithNotes(messages::kBinarySource, {found, CopyNote(mirror, dry_run)});
  } else {
    result.verdict = BatchVerdict::AlreadyTarget;
    result.message = messages::WithNotes(messages::kAlreadyTarget, {source.verdict == LineEndingKind::None ? messages::kNoLineBreakNote : "",
                                                          CopyNote(mirror, dry_run)});
  }
  result.copied = mirror;
}

}  // namespace

BatchResult ConvertBatchFile(platform::FileSystem& fs, const BatchFile& file, const BatchSettings& settings,
                             const std::stop_token& stop, const BatchProgress& progress) {
  return ConvertBatchFile(fs, file, settings, stop, progress, nullptr);
}

BatchResult ConvertBatchFile(platform::FileSystem& fs, const BatchFile& file, const BatchSettings& settings,
                             const std::stop_token& stop, const BatchProgress& progress, PendingFile* pending) {
  BatchResult result;
  if (file.skipped_link) return {BatchVerdict::Skipped, false, {}, "シンボリック リンクのため飛ばしました"};
  if (file.refused != Status::Ok) return Failed(result, {file.refused, file.reason});
  if (std::optional<BatchResult> working = AsWorkingFile(fs, file, settings)) return *working;
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
  if (!output) return Failed(result, {Status::OutputCannotWrite, output.reason});
  std::uint64_t told = 0;
  // Bytes read again (the copy of a file found not to be text) are not counted twice.
  const ConversionProgress per_file = [&progress, &told](std::uint64_t done, std::uint64_t, Stage) {
    if (progress && done > told) progress(done - told);
    told = std::max(told, done);
  };
  if (convert) {
    result.verdict = BatchVerdict::Converted;
    result.message = messages::kConverted;
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
    if (written.result.status != Status::SourceNotText) return Failed(result, written.result);
    nul = true;  // the rest is as for a file that allows no conversion
    if (Reason rewound = source.file->Rewind(); rewound != Reason::kNone) {
      return Failed(result, {Status::SourceReadFailed, rewound});
    }
  }
  NotConverted(result, source, nul, file.output != nullptr, settings.dry_run);
  if (!result.copied || settings.dry_run) return result;
  const Result copied = WriteConverted(fs, source, output.value, LineEndingKind::None, stop, per_file, settings.keep_modified);
  return copied.ok() ? result : Failed(result, copied);
}

void PublishGroup(platform::FileSystem& fs, std::span<BatchResult> results, std::span<PendingFile> pending,
                  const std::stop_token& stop) {
  const auto fail = [&](std::size_t i, Reason reason) {
    results[i] = Failed(results[i], {Status::OutputCannotWrite, reason});
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
      results[i] = BatchResult{};
    } else if (const Reason published = pending[i].file->Publish(); published != Reason::kNone) {
      fail(i, published);
    }
    pending[i] = {};
  }
}

}  // namespace tarnwhistle
