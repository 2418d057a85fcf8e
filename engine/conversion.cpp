#include "conversion.h"

#include <atomic>
#include <cstring>
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

#include "detection.h"
#include "line_ending_converter.h"
#include "pipeline.h"
#include "statistics.h"
#include "platform/page_buffer.h"
#include "platform/replacement_file.h"

namespace tarnwhistle {
namespace {

using platform::Reason;

// The pieces a file of up to a few MiB is converted in: small enough that the four
// threads of a batch in place hold little memory between them.
constexpr std::size_t kPiece = 256 * 1024;
// Files up to detection's first read are read whole at once.
constexpr std::size_t kHeldWhole = kFirstReadSize;

Result Rewound(Source& source) {
  const Reason reason = source.file->Rewind();
  return reason == Reason::kNone ? Result{} : Result{Outcome::SourceReadFailed, reason};
}

}  // namespace

Result OpenSource(platform::FileReader& fs, const platform::Place& place, Source& source,
                  const std::stop_token& stop) {
  auto file = fs.OpenForRead(place);
  if (!file) return {Outcome::SourceCannotOpen, file.reason};
  source.place = place;
  source.file = std::move(file.value);
  // A file no larger than detection's first read is read once, whole, and kept.
  const std::uint64_t size = source.file->Opened().identity.size;
  if (size <= kHeldWhole) {
    source.whole.resize(size + 1);  // one byte more, so a file grown since it was opened shows
    platform::OrReason<std::size_t> got = source.file->Read(source.whole);
    if (!got) return {Outcome::SourceReadFailed, got.reason};
    if (got.value == size) {
      source.whole.resize(size);
      source.held_whole = true;
      source.encoding = EncodingOf(source.whole);
      KindScanner scanner(source.encoding);
      scanner.Feed(source.whole);
      scanner.Finish();
      source.verdict = scanner.Verdict();
      source.found = scanner.Found();
      return {};
    }
    source.whole.clear();
    if (Result rewound = Rewound(source); !rewound.ok()) return rewound;
  }
  const Detection detection = DetectLineEndings(*source.file, stop);
  if (detection.outcome != Outcome::Ok) return {detection.outcome, detection.reason};
  source.encoding = detection.encoding;
  source.verdict = detection.verdict;
  source.found = detection.found;
  return Rewound(source);
}

Result AllLineEndingsOf(Source& source, LineEndingKind kind, bool& all, bool* nul, const std::stop_token& stop) {
  LineEndingCounter counter(source.encoding);
  if (source.held_whole) {
    counter.Feed(source.whole);
  } else {
    platform::PageBuffer buffer(kReadSize);
    for (;;) {
      if (stop.stop_requested()) return {Outcome::Cancelled};
      platform::OrReason<std::size_t> got = source.file->Read({buffer.data(), buffer.size()});
      if (!got) return {Outcome::SourceReadFailed, got.reason};
      if (got.value == 0) break;
      counter.Feed({buffer.data(), got.value});
    }
  }
  const LineEndingCounts& counts = counter.Finish();
  all = counts.AllOf(kind);
  if (nul != nullptr) *nul = counts.nul;
  return source.held_whole ? Result{} : Rewound(source);
}

namespace {

struct Piece {
  std::uint8_t* data;
  std::size_t size;
};

// `piece`, read from a file, through `converter` into `out`: the bytes to write. They are
// the converter's held bytes when `piece` is empty (the file has ended), and `piece`
// itself without a converter (a copy); nothing when the piece is not text.
std::optional<std::span<const std::uint8_t>> ConvertPiece(LineEndingConverter* converter,
                                                          std::span<const std::uint8_t> piece, std::uint8_t* out) {
  if (converter == nullptr) return piece;
  const std::optional<std::size_t> made = piece.empty() ? converter->Finish(out) : converter->Convert(piece, out);
  if (!made) return std::nullopt;
  return std::span<const std::uint8_t>(out, *made);
}

// Moves the rest of `file` into `sink`, converted unless `converter` is null (a copy),
// counting the bytes read in `done`. On the calling thread alone: for small files, where
// starting threads would cost more than it saves.
Result MoveSerial(platform::ReadHandle& file, platform::ByteSink& sink, LineEndingConverter* converter,
                  const std::stop_token& stop, const std::function<void(std::uint64_t)>& read, std::uint64_t& done) {
  platform::PageBuffer in(kPiece);
  platform::PageBuffer out(LineEndingConverter::MaxOutput(kPiece));
  for (;;) {
    if (stop.stop_requested()) return {Outcome::Cancelled};
    const platform::OrReason<std::size_t> got = file.Read({in.data(), in.size()});
    if (!got) return {Outcome::SourceReadFailed, got.reason};
    const auto bytes = ConvertPiece(converter, {in.data(), got.value}, out.data());
    if (!bytes) return {Outcome::NotConvertible, Reason::kNulCharacter};
    if (Reason written = sink.Write(*bytes); written != Reason::kNone) return {Outcome::OutputCannotWrite, written};
    if (got.value == 0) return {};
    done += got.value;
    read(done);
  }
}

// The same for a file held whole: no more reads.
Result MoveHeld(const std::vector<std::uint8_t>& whole, platform::ByteSink& sink, LineEndingConverter* converter,
                const std::function<void(std::uint64_t)>& read, std::uint64_t& done) {
  std::span<const std::uint8_t> bytes = whole;
  // One size for every file held whole, so that a batch's thread keeps reusing the buffer.
  platform::PageBuffer out(LineEndingConverter::MaxOutput(std::max<std::size_t>(whole.size(), kHeldWhole)));
  if (converter != nullptr) {
    const std::optional<std::size_t> made = converter->Convert(whole, out.data());
    if (!made) return {Outcome::NotConvertible, Reason::kNulCharacter};
    bytes = {out.data(), *made + converter->Finish(out.data() + *made)};
  }
  if (Reason written = sink.Write(bytes); written != Reason::kNone) return {Outcome::OutputCannotWrite, written};
  done = whole.size();
  read(done);
  return {};
}

// The same with the writing overlapped: this thread reads and converts each piece, still
// in its cache, and another writes the converted pieces through a few buffers, so that
// memory stays flat whatever the file's size. Reading on a thread of its own as well cost
// more than it gained on two cores (1.18-1.22 × dd against 0.93-1.0 ×): each piece then
// crossed between the cores twice, and the threads woke each other twice as often.
Result MoveOverlapped(platform::ReadHandle& file, platform::ByteSink& sink, LineEndingConverter* converter,
                      const std::stop_token& stop, const std::function<void(std::uint64_t)>& read,
                      std::uint64_t& done) {
  constexpr std::size_t kBuffers = 4;
  platform::PageBuffer in(kPiece);
  std::vector<std::unique_ptr<platform::PageBuffer>> buffers;
  Channel<Piece> free_out, full_out;
  for (std::size_t i = 0; i < kBuffers; ++i) {
    buffers.push_back(std::make_unique<platform::PageBuffer>(LineEndingConverter::MaxOutput(kPiece)));
    free_out.Give({buffers.back()->data(), 0});
  }
  std::atomic<bool> abandoned{false};
  Reason write_failure = Reason::kNone;  // set by the writer only
  std::thread writer;
  try {
    writer = std::thread([&] {
      while (std::optional<Piece> piece = full_out.Take()) {
        if (!abandoned && write_failure == Reason::kNone) write_failure = sink.Write({piece->data, piece->size});
        if (write_failure != Reason::kNone) abandoned = true;
        free_out.Give(*piece);
      }
    });
  } catch (const std::system_error&) {
    // No thread to be had (the user's or the system's limit): the same work on this one.
    return MoveSerial(file, sink, converter, stop, read, done);
  }
  Result result;
  for (bool ended = false; !ended && !abandoned;) {
    if (stop.stop_requested()) break;
    const platform::OrReason<std::size_t> got = file.Read({in.data(), kPiece});
    if (!got) {
      result = {Outcome::SourceReadFailed, got.reason};
      break;
    }
    ended = got.value == 0;
    const Piece out = *free_out.Take();
    const auto bytes = ConvertPiece(converter, {in.data(), got.value}, out.data);
    if (!bytes) {
      result = {Outcome::NotConvertible, Reason::kNulCharacter};
      break;
    }
    // A copy is still in the piece read, which the next read writes over.
    if (bytes->data() != out.data) std::memcpy(out.data, bytes->data(), bytes->size());
    full_out.Give({out.data, bytes->size()});
    done += got.value;
    if (!ended) read(done);
  }
  if (!result.ok() || stop.stop_requested()) abandoned = true;
  full_out.Close();
  writer.join();
  if (!result.ok()) return result;
  if (write_failure != Reason::kNone) return {Outcome::OutputCannotWrite, write_failure};
  if (stop.stop_requested()) return {Outcome::Cancelled};
  return {};
}

// A copy of a file with holes, keeping them: each run of whole blocks of zeros is left a
// hole, as `cp` does for a file that has holes, so that a copy of a disk image or a
// database takes no more room than its source.
Result MoveSparse(platform::ReadHandle& file, platform::WorkingFile& out, const std::stop_token& stop,
                  const std::function<void(std::uint64_t)>& read, std::uint64_t& done) {
  constexpr std::size_t kBlock = 4096;
  static constexpr std::uint8_t kZeros[kBlock] = {};
  platform::PageBuffer in(kPiece);
  for (;;) {
    if (stop.stop_requested()) return {Outcome::Cancelled};
    const platform::OrReason<std::size_t> got = file.Read({in.data(), kPiece});
    if (!got) return {Outcome::SourceReadFailed, got.reason};
    if (got.value == 0) return {};
    const std::span<const std::uint8_t> piece{in.data(), got.value};
    const auto put = [&](std::size_t from, std::size_t to, bool zeros) {
      return zeros ? out.Skip(to - from) : out.Write(piece.subspan(from, to - from));
    };
    std::size_t run = 0;  // where the run of data, or of zeros, began
    bool zeros = false;
    for (std::size_t at = 0; at < piece.size(); at += kBlock) {
      const std::size_t size = std::min(kBlock, piece.size() - at);
      const bool zero = size == kBlock && std::memcmp(piece.data() + at, kZeros, kBlock) == 0;
      if (at > run && zero != zeros) {
        if (const Reason failed = put(run, at, zeros); failed != Reason::kNone) return {Outcome::OutputCannotWrite, failed};
        run = at;
      }
      zeros = zero;
    }
    if (const Reason failed = put(run, piece.size(), zeros); failed != Reason::kNone) {
      return {Outcome::OutputCannotWrite, failed};
    }
    done += got.value;
    read(done);
  }
}

}  // namespace

Written WriteUnpublished(platform::FileSystem& fs, Source& source, const platform::Place& output,
                         LineEndingKind target, const std::stop_token& stop, const ConversionProgress& progress,
                         bool keep_modified) {
  platform::ReadHandle& file = *source.file;
  auto replacement = platform::ReplacementFile::Create(fs, output, file.Opened().permissions);
  if (!replacement) return {{Outcome::OutputCannotWrite, replacement.reason}, nullptr};
  if (keep_modified) replacement.value->KeepModified(file.Opened().identity);

  const bool copy = target == LineEndingKind::None;
  LineEndingConverter converter(source.encoding, copy ? LineEndingKind::Unix : target);
  const std::uint64_t total = file.Opened().identity.size;
  std::uint64_t done = 0;
  const auto read = [&progress, total](std::uint64_t so_far) {
    if (progress) progress(so_far, total, Stage::Converting);
  };
  // Threads cost more than they save on small files, which a batch has by the thousand.
  constexpr std::uint64_t kOverlappedFrom = 4 * 1024 * 1024;
  LineEndingConverter* const converting = copy ? nullptr : &converter;
  const Result moved =
      copy && !source.held_whole && file.Opened().sparse
          ? MoveSparse(file, replacement.value->Working(), stop, read, done)
      : source.held_whole        ? MoveHeld(source.whole, replacement.value->Sink(), converting, read, done)
      : total >= kOverlappedFrom ? MoveOverlapped(file, replacement.value->Sink(), converting, stop, read, done)
                                 : MoveSerial(file, replacement.value->Sink(), converting, stop, read, done);
  if (!moved.ok()) return {moved, nullptr};
  if (Reason changed = platform::ChangedWhileRead(file, done); changed != Reason::kNone) {
    return {{Outcome::SourceReadFailed, changed}, nullptr};
  }
  return {{}, std::move(replacement.value)};
}

Result WriteConverted(platform::FileSystem& fs, Source& source, const platform::Place& output, LineEndingKind target,
                      const std::stop_token& stop, const ConversionProgress& progress, bool keep_modified) {
  Written written = WriteUnpublished(fs, source, output, target, stop, progress, keep_modified);
  if (!written.result.ok()) return written.result;
  const std::uint64_t size = source.file->Opened().identity.size;
  if (progress) progress(size, size, Stage::Finishing);
  return Publish(*written.file, stop);
}

Result Publish(platform::ReplacementFile& file, const std::stop_token& stop) {
  const Reason committed = file.Commit(stop);
  if (committed == Reason::kStopped) return {Outcome::Cancelled};
  if (committed != Reason::kNone) return {Outcome::OutputCannotWrite, committed};
  return {};
}

}  // namespace tarnwhistle
