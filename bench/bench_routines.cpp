// Speed of the six conversion routines against a plain buffered copy of the same file,
// the peak memory of a conversion at two file sizes, and the line-ending kernel alone in
// memory against memcpy.
//
//   build/bin/tarnwhistle-bench              (files in $TMPDIR or /tmp; about 1.5 GiB)
//   build/bin/tarnwhistle-bench --benchmark_filter='BM_Memcpy|BM_Kernel'   (memory only)
//
// Each conversion runs the whole road of the window's Convert command into a new output
// file: open the source, write a temporary file beside the output, rename it into place.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/conversion_request.h"
#include "engine/line_ending_converter.h"
#include "platform/page_buffer.h"
#include "platform/posix_file_system.h"

namespace {

using tarnwhistle::LineEndingKind;
using K = tarnwhistle::LineEndingKind;

// The whole road of one conversion, as the command line takes it.
bool Convert(tarnwhistle::platform::FileSystem& fs, const std::string& source, const std::string& output,
             LineEndingKind from, LineEndingKind to) {
  tarnwhistle::ConversionRequest request;
  request.source = source;
  request.output = output;
  request.detected = from;
  request.target = to;
  return tarnwhistle::CheckAndConvert(fs, request).ok();
}

constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::uint64_t kFileBytes = 256 * kMiB;

std::string Folder() {
  static const std::string folder = [] {
    std::string path = (std::filesystem::temp_directory_path() / "tarnwhistle-bench").string();
    std::filesystem::create_directories(path);
    return path;
  }();
  return folder;
}

// A line of 0 to `longest` characters, mostly ASCII words with some Japanese.
std::string Line(std::mt19937& random, std::size_t longest) {
  static const char* const kWords[] = {"the", "line", "ending", "of", "a", "file", "converted", "quickly",
                                       "日本語", "テキスト", "変換", "0x0D", "{", "}", "return", "value;"};
  std::size_t length = random() % (longest + 1);
  std::string line(random() % 4 == 0 ? random() % 12 : 0, ' ');  // some indentation
  while (line.size() < length) {
    line += kWords[random() % std::size(kWords)];
    line += ' ';
  }
  return line;
}

// A text file of `bytes` bytes whose lines of 0 to 120 characters end with `line_end`,
// written a chunk at a time so that making it costs no memory.
std::string TextFile(const std::string& name, const std::string& line_end, std::uint64_t bytes) {
  std::string path = Folder() + "/" + name;
  if (std::filesystem::exists(path) && std::filesystem::file_size(path) == bytes) return path;
  std::mt19937 random(42);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string chunk;
  std::uint64_t written = 0;
  while (written < bytes) {
    chunk += Line(random, 120) + line_end;
    if (chunk.size() >= kMiB || written + chunk.size() >= bytes) {
      std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), bytes - written));
      out.write(chunk.data(), static_cast<std::streamsize>(take));
      written += take;
      chunk.clear();
    }
  }
  return path;
}

std::string SourceFor(LineEndingKind kind) {
  if (kind == K::MsDos) return TextFile("dos.txt", "\r\n", kFileBytes);
  if (kind == K::Unix) return TextFile("unix.txt", "\n", kFileBytes);
  return TextFile("mac.txt", "\r", kFileBytes);
}

void SetRate(benchmark::State& state, std::uint64_t bytes) {
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(bytes) * static_cast<double>(state.iterations()) / 1e6,
                                              benchmark::Counter::kIsRate);
}

// What every conversion is measured against: read and write the same file through
// buffers of the same size, into a new file.
void BM_PlainCopy(benchmark::State& state) {
  std::string source = SourceFor(K::MsDos);
  std::string output = Folder() + "/copy.out";
  tarnwhistle::platform::PageBuffer buffer(1024 * 1024);
  for (auto _ : state) {
    state.PauseTiming();
    std::remove(output.c_str());
    state.ResumeTiming();
    int in = ::open(source.c_str(), O_RDONLY);
    int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (ssize_t got; (got = ::read(in, buffer.data(), buffer.size())) > 0;) {
      if (::write(out, buffer.data(), static_cast<std::size_t>(got)) != got) state.SkipWithError("write failed");
    }
    ::close(out);
    ::close(in);
  }
  SetRate(state, kFileBytes);
}

void BM_Convert(benchmark::State& state, LineEndingKind from, LineEndingKind to) {
  std::string source = SourceFor(from);
  std::string output = Folder() + "/converted.out";
  tarnwhistle::platform::PosixFileSystem fs;
  for (auto _ : state) {
    state.PauseTiming();
    std::remove(output.c_str());
    state.ResumeTiming();
    if (!Convert(fs, source, output, from, to)) state.SkipWithError("conversion failed");
  }
  SetRate(state, kFileBytes);
}

// The same conversion over an existing output, which waits for the disk before the
// rename so that a crash cannot cost the old content.
void BM_ConvertReplacing(benchmark::State& state) {
  std::string source = SourceFor(K::MsDos);
  std::string output = Folder() + "/replaced.out";
  tarnwhistle::platform::PosixFileSystem fs;
  for (auto _ : state) {
    if (!Convert(fs, source, output, K::MsDos, K::Unix)) state.SkipWithError("failed");
  }
  SetRate(state, kFileBytes);
}

// Peak resident memory of the process after converting a file of state.range(0) MiB:
// it stays flat however large the file.
void BM_PeakMemory(benchmark::State& state) {
  std::uint64_t bytes = static_cast<std::uint64_t>(state.range(0)) * kMiB;
  std::string source = TextFile("memory-" + std::to_string(state.range(0)) + ".txt", "\r\n", bytes);
  tarnwhistle::platform::PosixFileSystem fs;
  for (auto _ : state) {
    if (!Convert(fs, source, Folder() + "/memory.out", K::MsDos, K::Unix)) {
      state.SkipWithError("conversion failed");
    }
  }
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

constexpr std::size_t kMemoryBytes = 64 * kMiB;

// The same text in memory: about `bytes` bytes of lines of 0 to `longest` characters
// ending with `line_end`, as bytes (UTF-8) or as UTF-16.
std::vector<std::uint8_t> Text(const std::string& line_end, std::size_t longest, tarnwhistle::Encoding encoding) {
  std::mt19937 random(42);
  std::string text;
  while (text.size() < kMemoryBytes) text += Line(random, longest) + line_end;
  if (encoding == tarnwhistle::Encoding::Bytes) return {text.begin(), text.end()};
  std::vector<std::uint8_t> wide;
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned unit = static_cast<unsigned char>(text[i]);
    if (unit >= 0xe0) {  // the words' Japanese: three bytes of UTF-8 for each character
      unit = (unit & 0x0f) << 12 | (text[i + 1] & 0x3fu) << 6 | (text[i + 2] & 0x3fu);
      i += 2;
    }
    const bool big = encoding == tarnwhistle::Encoding::Utf16Be;
    wide.push_back(static_cast<std::uint8_t>(big ? unit >> 8 : unit));
    wide.push_back(static_cast<std::uint8_t>(big ? unit : unit >> 8));
  }
  return wide;
}

// Pages touched once, so that page faults stay out of what is timed.
std::vector<std::uint8_t> Touched(std::size_t size) { return std::vector<std::uint8_t>(size, 1); }

// What the kernel is measured against: copying the same number of bytes in memory.
void BM_Memcpy(benchmark::State& state) {
  const std::vector<std::uint8_t> in = Touched(kMemoryBytes);
  std::vector<std::uint8_t> out = Touched(kMemoryBytes);
  for (auto _ : state) {
    std::memcpy(out.data(), in.data(), in.size());
    benchmark::DoNotOptimize(out.data());
  }
  SetRate(state, kMemoryBytes);
  state.SetBytesProcessed(static_cast<std::int64_t>(kMemoryBytes * state.iterations()));
}

// The line-ending kernel alone over a text in memory, fed 256 KiB at a time into one
// output as long as the result.
void BM_Kernel(benchmark::State& state, tarnwhistle::Encoding encoding, const char* line_end, std::size_t longest,
               tarnwhistle::LineEndingKind target) {
  using tarnwhistle::LineEndingConverter;
  constexpr std::size_t kPiece = 256 * 1024;
  const std::vector<std::uint8_t> in = Text(line_end, longest, encoding);
  std::vector<std::uint8_t> out = Touched(2 * in.size() + LineEndingConverter::MaxOutput(kPiece));
  for (auto _ : state) {
    LineEndingConverter converter(encoding, target);
    std::uint8_t* next = out.data();
    for (std::size_t at = 0; at < in.size(); at += kPiece) {
      const std::optional<std::size_t> n =
          converter.Convert(std::span(in).subspan(at, std::min(kPiece, in.size() - at)), next);
      if (!n) state.SkipWithError("NUL in the text");
      next += n.value_or(0);
    }
    next += converter.Finish(next);
    benchmark::DoNotOptimize(next);
  }
  SetRate(state, in.size());
  state.SetBytesProcessed(static_cast<std::int64_t>(in.size() * state.iterations()));
}

// Prints, after the usual table, each conversion's speed as a share of the plain copy's,
// and the kernel's as a share of memcpy's.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto rate = run.counters.find("MB/s");
      if (rate != run.counters.end() && run.aggregate_name == "median") rates_[run.run_name.function_name] = rate->second;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-36s %10s %8s\n", "median of nine, against its copy", "MB/s", "ratio");
    for (const auto& [name, rate] : rates_) {
      const bool in_memory = name.rfind("BM_Kernel", 0) == 0 || name.rfind("BM_Memcpy", 0) == 0;
      auto copy = rates_.find(in_memory ? "BM_Memcpy" : "BM_PlainCopy");
      std::printf("%-36s %10.0f %8.2f\n", name.c_str(), rate, copy == rates_.end() ? 0.0 : rate / copy->second);
    }
  }

 private:
  std::map<std::string, double> rates_;
};

// Timed on the wall clock (the work is mostly in the operating system), the median of
// nine runs of at least a second each.
void Timed(benchmark::internal::Benchmark* b) {
  b->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(1)->Repetitions(9)->ReportAggregatesOnly(true);
}

BENCHMARK(BM_PlainCopy)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Convert, DosToUnix, K::MsDos, K::Unix)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Convert, DosToMac, K::MsDos, K::Mac)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Convert, UnixToDos, K::Unix, K::MsDos)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Convert, UnixToMac, K::Unix, K::Mac)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Convert, MacToDos, K::Mac, K::MsDos)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Convert, MacToUnix, K::Mac, K::Unix)->Apply(Timed);
BENCHMARK(BM_ConvertReplacing)->Apply(Timed);

using tarnwhistle::Encoding;
using tarnwhistle::LineEndingKind;
// Each target from the kind it converts most often, and from itself (an unchanged copy);
// lines of 0 to 120 characters, or of up to 20000.
BENCHMARK(BM_Memcpy)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Kernel, Unix/FromDos, Encoding::Bytes, "\r\n", 120, LineEndingKind::Unix)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Kernel, Unix/FromMac, Encoding::Bytes, "\r", 120, LineEndingKind::Unix)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Kernel, Unix/FromUnix, Encoding::Bytes, "\n", 120, LineEndingKind::Unix)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Kernel, MsDos/FromUnix, Encoding::Bytes, "\n", 120, LineEndingKind::MsDos)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Kernel, MsDos/FromMac, Encoding::Bytes, "\r", 120, LineEndingKind::MsDos)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Kernel, MsDos/FromDos, Encoding::Bytes, "\r\n", 120, LineEndingKind::MsDos)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Kernel, Mac/FromDos, Encoding::Bytes, "\r\n", 120, LineEndingKind::Mac)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Kernel, Mac/FromUnix, Encoding::Bytes, "\n", 120, LineEndingKind::Mac)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Kernel, Mac/FromMac, Encoding::Bytes, "\r", 120, LineEndingKind::Mac)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Kernel, Unix/FromDosLong, Encoding::Bytes, "\r\n", 20000, LineEndingKind::Unix)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Kernel, MsDos/FromUnixLong, Encoding::Bytes, "\n", 20000, LineEndingKind::MsDos)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Kernel, Unix/Utf16LeFromDos, Encoding::Utf16Le, "\r\n", 120, LineEndingKind::Unix)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Kernel, MsDos/Utf16LeFromUnix, Encoding::Utf16Le, "\n", 120, LineEndingKind::MsDos)->Apply(Timed);
BENCHMARK_CAPTURE(BM_Kernel, Mac/Utf16BeFromDos, Encoding::Utf16Be, "\r\n", 120, LineEndingKind::Mac)->Apply(Timed);
BENCHMARK(BM_PeakMemory)->Arg(16)->Arg(256)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  // Repetitions of all benchmarks are interleaved, so that the machine's drifts in speed
  // fall on the copy and the conversions alike.
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
