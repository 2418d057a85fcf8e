#include "conversion.h"

#include "detection.h"
#include "line_ending_converter.h"
#include "statistics.h"
#include "platform/page_buffer.h"
#include "platform/replacement_file.h"

namespace tarnwhistle {
namespace {

using platform::Reason;

// 1 MiB: on a 256 MiB conversion 256 KiB buffers measured about 15% slower and 2 MiB no
// faster.
constexpr std::size_t kReadSize = 1024 * 1024;

Result Rewound(Source& source) {
  const Reason reason = source.file->Rewind();
  return reason == Reason::kNone ? Result{} : Result{Status::SourceReadFailed, reason};
}

}  // namespace

Result OpenSource(platform::FileSystem& fs, const platform::Place& place, Source& source,
                  const std::stop_token& stop) {
  auto file = fs.OpenForRead(place);
  if (!file) return {Status::SourceCannotOpen, file.reason};
  source.place = place;
  source.file = std::move(file.value);
  const Detection detection = DetectLineEndings(*source.file, stop);
  if (detection.status != Status::Ok) return {detection.status, detection.reason};
  source.encoding = detection.encoding;
  source.verdict = detection.verdict;
  return Rewound(source);
}

Result AllLineEndingsOf(Source& source, LineEndingKind kind, bool& all, bool* nul, const std::stop_token& stop) {
  LineEndingCounter counter(source.encoding);
  platform::PageBuffer buffer(kReadSize);
  for (;;) {
    if (stop.stop_requested()) return {Status::Cancelled, Reason::kStopped};
    platform::OrReason<std::size_t> got = source.file->Read({buffer.data(), buffer.size()});
    if (!got) return {Status::SourceReadFailed, got.reason};
    if (got.value == 0) break;
    counter.Feed({buffer.data(), got.value});
  }
  const LineEndingCounts& counts = counter.Finish();
  all = counts.AllOf(kind);
  if (nul != nullptr) *nul = counts.nul;
  return Rewound(source);
}

Result WriteConverted(platform::FileSystem& fs, Source& source, const platform::Place& output, LineEndingKind target,
                      const std::stop_token& stop, const ConversionProgress& progress) {
  platform::ReadHandle& file = *source.file;
  auto replacement = platform::ReplacementFile::Create(fs, output, file.Opened().permissions);
  if (!replacement) return {Status::OutputCannotWrite, replacement.reason};
  platform::ByteSink& sink = replacement.value->Sink();

  const bool copy = target == LineEndingKind::None;
  LineEndingConverter converter(source.encoding, copy ? LineEndingKind::Unix : target);
  platform::PageBuffer in(kReadSize);
  platform::PageBuffer out(LineEndingConverter::MaxOutput(kReadSize));
  const std::uint64_t total = file.Opened().identity.size;
  std::uint64_t done = 0;
  const auto put = [&sink](const std::uint8_t* data, std::size_t size) {
    const Reason written = sink.Write({data, size});
    return written == Reason::kNone ? Result{} : Result{Status::OutputCannotWrite, written};
  };
  for (;;) {
    if (stop.stop_requested()) return {Status::Cancelled, Reason::kStopped};
    platform::OrReason<std::size_t> got = file.Read({in.data(), in.size()});
    if (!got) return {Status::SourceReadFailed, got.reason};
    if (got.value == 0) break;
    done += got.value;
    Result written;
    if (copy) {
      written = put(in.data(), got.value);
    } else {
      const std::ptrdiff_t size = converter.Convert({in.data(), got.value}, out.data());
      if (size < 0) return {Status::SourceNotText, Reason::kNone};
      written = put(out.data(), static_cast<std::size_t>(size));
    }
    if (!written.ok()) return written;
    if (progress) progress(done, total, Stage::Converting);
  }
  if (!copy) {
    if (Result written = put(out.data(), converter.Finish(out.data())); !written.ok()) return written;
  }
  if (done != total) return {Status::SourceReadFailed, Reason::kChangedWhileRead};
  if (Reason changed = file.ChangedSinceOpened(); changed != Reason::kNone) return {Status::SourceReadFailed, changed};
  if (progress) progress(done, total, Stage::Finishing);
  const Reason committed = replacement.value->Commit(stop);
  if (committed == Reason::kStopped) return {Status::Cancelled, committed};
  if (committed != Reason::kNone) return {Status::OutputCannotWrite, committed};
  return {};
}

}  // namespace tarnwhistle
