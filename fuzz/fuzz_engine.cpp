// libFuzzer target for the engine: detection and the six conversion routines, each
// checked against a model of its rules written out here from scratch, plus properties
// that hold between them. Everything runs in memory, on the tests' fake file system:
// no file is touched.
//
// The fuzzer's input is a header of kHeaderSize bytes, the choices of one run (how the
// file's reads are split, the buffer sizes, which routine runs, which file operation
// fails at which call, if any), followed by the file's bytes. The seeds in fuzz/corpus
// are made by fuzz/make_seeds.py.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "engine/conversion.h"
#include "engine/detection.h"
#include "tests/fake_file_system.h"

namespace {

using tarnwhistle::ConversionRoutine;
using tarnwhistle::LineEndingKind;
using tarnwhistle::Status;
namespace platform = tarnwhistle::platform;

void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

// ---- The models ----------------------------------------------------------------------

constexpr unsigned char kCr = 0x0D;
constexpr unsigned char kLf = 0x0A;

// Detection, by position: byte i is looked at only while every byte before it was
// undecided and there were at most 256 of them; a control byte other than TAB, LF and
// CR makes the file BINARY, LF not after CR makes it UNIX, and whatever follows a CR
// makes it MS-DOS (an LF) or MAC (anything else). A file that ends first gets MAC if
// its last byte is a CR, else no verdict; so does one of 257 undecided bytes or more.
LineEndingKind ModelDetect(const std::string& file) {
  const std::size_t looked_at = std::min<std::size_t>(file.size(), 257);
  for (std::size_t i = 0; i < looked_at; ++i) {
    const unsigned char byte = static_cast<unsigned char>(file[i]);
    const unsigned char before = i == 0 ? 0 : static_cast<unsigned char>(file[i - 1]);
    if (byte < 0x20 && byte != 0x09 && byte != kLf && byte != kCr) return LineEndingKind::Binary;
    if (byte == kLf && before != kCr) return LineEndingKind::Unix;
    if (before == kCr) return byte == kLf ? LineEndingKind::MsDos : LineEndingKind::Mac;
  }
  if (file.empty() || file.size() > 256) return LineEndingKind::None;
  return static_cast<unsigned char>(file.back()) == kCr ? LineEndingKind::Mac : LineEndingKind::None;
}

// A routine's whole rule: the one byte it acts on and what it writes instead.
struct Rule {
  const char* name;
  ConversionRoutine routine;
  char byte;
  const char* instead;
};

const Rule kRules[] = {
    {"MS-DOS to UNIX", tarnwhistle::ConvertDosToUnix, '\r', ""},
    {"MS-DOS to MAC", tarnwhistle::ConvertDosToMac, '\n', ""},
    {"UNIX to MS-DOS", tarnwhistle::ConvertUnixToDos, '\n', "\r\n"},
    {"UNIX to MAC", tarnwhistle::ConvertUnixToMac, '\n', "\r"},
    {"MAC to MS-DOS", tarnwhistle::ConvertMacToDos, '\r', "\r\n"},
    {"MAC to UNIX", tarnwhistle::ConvertMacToUnix, '\r', "\n"},
};

std::string ModelConvert(const Rule& rule, const std::string& file) {
  std::string out;
  for (char c : file) {
    if (c == rule.byte) {
      out += rule.instead;
    } else {
      out += c;
    }
  }
  return out;
}

// ---- Runs ----------------------------------------------------------------------------

using tarnwhistle::testing::FakeFileSystem;
using tarnwhistle::testing::Op;
constexpr int kOpCount = static_cast<int>(std::size(tarnwhistle::testing::kAllOps));

struct Buffers {
  std::size_t piece;   // the most bytes one read of the file hands out
  std::size_t reader;  // the reader's buffer
  std::size_t writer;  // the writer's buffer
};

// The routine alone, over buffers of the chosen sizes. False when it stopped at a NUL.
bool RunRoutine(const Rule& rule, const std::string& file, const Buffers& sizes, std::string& out) {
  FakeFileSystem fs;
  fs.AddFile("in", file);
  fs.SetReadLimit(sizes.piece);
  std::unique_ptr<platform::ReadHandle> source = fs.OpenForRead("in");
  std::unique_ptr<platform::WriteHandle> output = fs.CreateWorkingFile("", "out");
  platform::ByteReader in(*source, sizes.reader);
  platform::ByteWriter writer(*output, sizes.writer);
  const bool text = rule.routine(in, writer);
  Check(writer.Drain(), "a conversion in memory cannot fail");
  if (text) Check(in.AtEnd() && !in.Failed() && in.BytesRead() == file.size(), "a routine reads its whole source");
  out = fs.Contents("out1").value_or("<none>");
  return text;
}

// Detects the kind of `file` split into reads of `piece` bytes, with the `nth` call of
// `fail_op` failing (none when it is -1); `fired` tells whether it did.
tarnwhistle::Detection RunDetect(const std::string& file, std::size_t piece, int fail_op, int nth, bool& fired) {
  FakeFileSystem fs;
  fs.AddFile("/in", file);
  fs.SetReadLimit(piece);
  if (fail_op >= 0) fs.FailOn(static_cast<Op>(fail_op), nth);
  tarnwhistle::Detection detection = tarnwhistle::DetectLineEndings(fs, "/in");
  fired = fail_op >= 0 && fs.Calls(static_cast<Op>(fail_op)) >= nth;
  Check(fs.BytesRead() <= 258, "detection reads at most 258 bytes");
  Check(fs.Paths() == std::vector<std::string>{"/in"} && fs.Contents("/in") == file, "detection only reads");
  return detection;
}

bool Has(const std::string& text, char byte) { return text.find(byte) != std::string::npos; }

// The properties of a routine's result: the model's output, round trips, what each
// target kind never holds.
void CheckConverted(const Rule& chosen, const std::string& file, const std::string& converted, const Buffers& sizes,
                    LineEndingKind verdict);

}  // namespace

constexpr std::size_t kHeaderSize = 7;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint8_t header[kHeaderSize] = {};
  std::copy_n(data, std::min(size, kHeaderSize), header);
  const Buffers sizes{1u + header[0], 1u + 2u * header[1], 1u + 2u * header[2]};
  const Rule& chosen = kRules[header[3] % 6];
  const int fail_op = header[4] % (kOpCount + 1) - 1;  // -1: nothing fails
  const int fail_nth = 1 + header[5] % 40;
  const bool output_exists = (header[6] & 1) != 0;
  // The whole file path allocates full-size buffers, which costs more than everything
  // else together: one run in four takes it.
  const bool whole_path = (header[6] & 6) == 0;
  const std::string file(reinterpret_cast<const char*>(data) + std::min(size, kHeaderSize),
                         size - std::min(size, kHeaderSize));
  const bool has_nul = Has(file, '\0');

  // Detection: the model's verdict, however the reads are split; or, when its open or
  // a read fails, that failure and no verdict.
  const LineEndingKind verdict = ModelDetect(file);
  bool fired = false;
  tarnwhistle::Detection clean = RunDetect(file, sizes.piece, -1, 0, fired);
  Check(clean.status == Status::Ok && clean.verdict == verdict, "detection agrees with the model");
  tarnwhistle::Detection failing = RunDetect(file, sizes.piece, fail_op, fail_nth, fired);
  if (!fired) {
    Check(failing.status == Status::Ok && failing.verdict == verdict, "detection agrees with the model");
  } else {
    Check(failing.verdict == LineEndingKind::None, "a failed detection has no verdict");
    Check(failing.status == (fail_op == static_cast<int>(Op::OpenRead) ? Status::SourceCannotOpen
                                                                        : Status::SourceReadFailed),
          "a failed detection says what failed");
  }

  // The chosen routine: the model's output, whatever the buffer sizes; or, for a file
  // holding a NUL, a stop.
  std::string converted;
  const bool text = RunRoutine(chosen, file, sizes, converted);
  Check(text == !has_nul, "a routine stops exactly at files holding a NUL");
  if (text) CheckConverted(chosen, file, converted, sizes, verdict);

  if (!whole_path) return 0;
  // The whole file path of one routine, with one operation failing (or none): either
  // the output is exactly the model's and nothing else is left, or the conversion says
  // it failed and every file is as it was.
  FakeFileSystem fs;
  fs.AddDirectory("/d");
  fs.AddFile("/d/in", file);
  if (output_exists) fs.AddFile("/d/out", "old output");
  fs.SetReadLimit(sizes.piece);
  if (fail_op >= 0) fs.FailOn(static_cast<Op>(fail_op), fail_nth);
  const std::vector<std::string> before = fs.Paths();
  const Status status = tarnwhistle::ConvertFile(fs, chosen.routine, "/d/in", "/d/out");
  fired = fail_op >= 0 && fs.Calls(static_cast<Op>(fail_op)) >= fail_nth;
  Check(fs.Contents("/d/in") == file, "the source is only read");
  if (!fired && !has_nul) {
    Check(status == Status::Ok, "a conversion with nothing failing succeeds");
    Check(fs.Contents("/d/out") == ModelConvert(chosen, file), "the output is the model's");
    Check(fs.Paths() == std::vector<std::string>{"/d", "/d/in", "/d/out"}, "no working file is left");
    Check(fs.Calls(Op::Remove) == 0, "a conversion removes nothing unless something failed");
  } else {
    Check(status != Status::Ok, "a failure is reported");
    if (!fired) Check(status == Status::SourceNotText, "a NUL byte is reported so");
    if (fired && fail_op == static_cast<int>(Op::OpenRead)) {
      Check(status == Status::SourceCannotOpen, "a source that cannot be opened is reported so");
    }
    if (fired && fail_op == static_cast<int>(Op::Read)) Check(status == Status::SourceReadFailed, "a failed read is reported so");
    // Only a failed removal (of a named working file) may leave one behind.
    if (!(fired && fail_op == static_cast<int>(Op::Remove))) Check(fs.Paths() == before, "a failed conversion leaves no file behind");
    Check(fs.Contents("/d/out") == (output_exists ? std::optional<std::string>("old output") : std::nullopt),
          "a failed conversion leaves the output as it was");
  }
  return 0;
}

namespace {

void CheckConverted(const Rule& chosen, const std::string& file, const std::string& converted, const Buffers& sizes,
                    LineEndingKind verdict) {
  if (converted != ModelConvert(chosen, file)) {
    std::fprintf(stderr, "%s differs from the model\n", chosen.name);
    std::abort();
  }

  // There and back again, for files the first routine cannot have changed in ways the
  // second does not undo; and what each target kind never holds.
  const Rule& dos_to_unix = kRules[0];
  const Rule& dos_to_mac = kRules[1];
  const Rule& unix_to_mac = kRules[3];
  const Rule& mac_to_unix = kRules[5];
  const Rule* back = nullptr;
  if (&chosen == &kRules[2] && !Has(file, '\r')) back = &dos_to_unix;  // UNIX to MS-DOS to UNIX
  if (&chosen == &kRules[3] && !Has(file, '\r')) back = &mac_to_unix;  // UNIX to MAC to UNIX
  if (&chosen == &kRules[4] && !Has(file, '\n')) back = &dos_to_mac;   // MAC to MS-DOS to MAC
  if (&chosen == &kRules[5] && !Has(file, '\n')) back = &unix_to_mac;  // MAC to UNIX to MAC
  if (back != nullptr) {
    std::string again;
    Check(RunRoutine(*back, converted, sizes, again) && again == file, "a round trip gives back the file");
  }
  if (&chosen == &dos_to_unix || &chosen == &mac_to_unix) Check(!Has(converted, '\r'), "a UNIX result has no CR");
  if (&chosen == &dos_to_mac || &chosen == &unix_to_mac) Check(!Has(converted, '\n'), "a MAC result has no LF");
  // An MS-DOS file keeps its first line end, now a UNIX one; so does a MAC file.
  if (verdict == LineEndingKind::MsDos && &chosen == &dos_to_unix) {
    Check(ModelDetect(converted) == LineEndingKind::Unix, "MS-DOS to UNIX keeps the first line end");
  }
  if (verdict == LineEndingKind::Mac && &chosen == &mac_to_unix) {
    Check(ModelDetect(converted) == LineEndingKind::Unix, "MAC to UNIX keeps the first line end");
  }
}

}  // namespace
