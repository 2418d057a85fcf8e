// libFuzzer target for the engine: detection, the counts of a whole file and the
// conversion of every line ending, each checked against the tests' plain model
// (tests/text_model.h), however the reads are split and whichever file operation fails.
// Everything runs in memory, on the tests' fake file system: no file is touched.
//
// The fuzzer's input is a header of kHeaderSize bytes, the choices of one run, followed
// by the file's bytes. The seeds in fuzz/corpus are made by fuzz/make_seeds.py.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "engine/conversion.h"
#include "engine/statistics.h"
#include "fake_file_system.h"
#include "text_model.h"

namespace {

namespace testkit = tarnwhistle::testkit;
using tarnwhistle::LineEndingKind;
using tarnwhistle::Outcome;
using testkit::FakeFileSystem;
using testkit::Op;
constexpr int kOpCount = static_cast<int>(std::size(testkit::kAllOps));
constexpr LineEndingKind kTargets[] = {LineEndingKind::MsDos, LineEndingKind::Unix, LineEndingKind::Mac};

void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

// Converts `file` to `target` in memory; nothing when it holds a NUL.
std::optional<std::string> Converted(const std::string& file, LineEndingKind target, std::size_t piece) {
  FakeFileSystem fs;
  fs.AddFile("in", file);
  fs.SetReadLimit(piece);
  tarnwhistle::Source source;
  Check(tarnwhistle::OpenSource(fs, fs.Locate("in").value, source).ok(), "a file in memory opens");
  const tarnwhistle::Result result = tarnwhistle::WriteConverted(fs, source, fs.Locate("out").value, target);
  if (result.outcome == Outcome::NotConvertible) return std::nullopt;
  Check(result.ok(), "a conversion in memory cannot fail");
  return fs.Contents("out");
}

}  // namespace

// 0: the most bytes one read hands out, less 1; 1: the target; 2: the operation that
// fails, less 1 (none for 0); 3: the call of it that fails, less 1; 4: bit 0, an output
// exists already.
constexpr std::size_t kHeaderSize = 5;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint8_t header[kHeaderSize] = {};
  std::copy_n(data, std::min(size, kHeaderSize), header);
  const std::size_t piece = 1u + header[0];
  const LineEndingKind target = kTargets[header[1] % 3];
  const int fail_op = header[2] % (kOpCount + 1) - 1;  // -1: nothing fails
  const int fail_nth = 1 + header[3] % 40;
  const bool output_exists = (header[4] & 1) != 0;
  const std::string file(reinterpret_cast<const char*>(data) + std::min(size, kHeaderSize),
                         size - std::min(size, kHeaderSize));

  // The kind and the counts of the whole file, however the reads are split.
  {
    FakeFileSystem fs;
    fs.AddFile("in", file);
    fs.SetReadLimit(piece);
    const tarnwhistle::Examination whole = tarnwhistle::ExamineFile(fs, "in");
    const tarnwhistle::LineEndingCounts model = testkit::ModelCounts(file);
    Check(whole.outcome == Outcome::Ok && whole.verdict == testkit::ModelVerdict(file), "the kind is the model's");
    Check(whole.counts.crlf == model.crlf && whole.counts.lf == model.lf && whole.counts.cr == model.cr,
          "the counts are the model's");
    Check(whole.counts.nul == model.nul && whole.counts.control == model.control, "controls and NULs are the model's");
    Check(!model.nul || whole.counts.first_nul == model.first_nul, "the first NUL is where the model has it");
  }

  // The conversion: the model's output, and made again to any other kind and back, the
  // same; every line ending is a unit, so nothing is lost or added on the way.
  const std::optional<std::string> expected = testkit::ModelConvert(file, target);
  const std::optional<std::string> converted = Converted(file, target, piece);
  Check(converted == expected, "the conversion is the model's");
  if (converted) {
    const LineEndingKind other = kTargets[(header[1] + 1) % 3];
    const std::optional<std::string> there = Converted(*converted, other, piece);
    Check(there && Converted(*there, target, piece) == converted, "a round trip gives back the conversion");
  }

  // With one operation failing: either the output is exactly the model's and nothing
  // else is left, or the conversion says it failed and every file is as it was (only a
  // failed removal may leave its working file).
  FakeFileSystem fs;
  fs.AddDirectory("/d");
  fs.AddFile("/d/in", file);
  if (output_exists) fs.AddFile("/d/out", "old output");
  fs.SetReadLimit(piece);
  if (fail_op >= 0) fs.FailOn(static_cast<Op>(fail_op), fail_nth);
  const std::vector<std::string> before = fs.Paths();
  tarnwhistle::Source source;
  tarnwhistle::Result result = tarnwhistle::OpenSource(fs, fs.Locate("/d/in").value, source);
  if (result.ok()) result = tarnwhistle::WriteConverted(fs, source, fs.Locate("/d/out").value, target);
  const bool fired = fail_op >= 0 && fs.Calls(static_cast<Op>(fail_op)) >= fail_nth;
  Check(fs.Contents("/d/in") == file, "the source is only read");
  if (!fired && expected) {
    Check(result.ok() && fs.Contents("/d/out") == expected, "a conversion with nothing failing succeeds");
    Check(fs.Paths().size() == (output_exists ? before.size() : before.size() + 1), "no working file is left");
  } else {
    Check(!result.ok(), "a failure is reported");
    Check(result.outcome != Outcome::Ok && (fired || result.outcome == Outcome::NotConvertible), "a NUL is reported so");
    if (!(fired && fail_op == static_cast<int>(Op::Remove))) Check(fs.Paths() == before, "nothing is left behind");
    Check(fs.Contents("/d/out") == (output_exists ? std::optional<std::string>("old output") : std::nullopt),
          "a failed conversion leaves the output as it was");
  }
  return 0;
}
