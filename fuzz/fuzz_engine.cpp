// libFuzzer target for the engine: detection and the six conversion routines, each
// checked against a model of its rules written out here from scratch, plus properties
// that hold between them. Everything runs in memory: no file is touched.
//
// The fuzzer's input is a header of kHeaderSize bytes, the choices of one run (how the
// file's reads are split, the buffer sizes, which routine runs, which file operation
// fails at which call, if any), followed by the file's bytes. The seeds in fuzz/corpus
// are made by fuzz/make_seeds.py.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "engine/conversion.h"
#include "engine/detection.h"

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

// ---- Files in memory -----------------------------------------------------------------

enum Op { kOpen, kCreate, kRead, kWrite, kFlush, kClose, kRename, kRemove, kChmod, kOpCount };

// Counts the calls of each operation and fails the one planned. The output is written
// from a background thread, hence the lock.
class Plan {
 public:
  Plan(int op, int nth) : op_(op), nth_(nth) {}
  bool Fails(Op op) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (++calls_[op] != nth_ || op != op_) return false;
    fired_ = true;
    return true;
  }
  bool Fired() {
    std::lock_guard<std::mutex> lock(mutex_);
    return fired_;
  }

 private:
  std::mutex mutex_;
  int op_;
  int nth_;
  int calls_[kOpCount] = {};
  bool fired_ = false;
};

class MemoryReader : public platform::ReadHandle {
 public:
  MemoryReader(const std::string& bytes, std::size_t piece, Plan* plan) : bytes_(bytes), piece_(piece), plan_(plan) {}
  std::ptrdiff_t Read(std::uint8_t* data, std::size_t size) override {
    if (plan_ != nullptr && plan_->Fails(kRead)) return -1;
    std::size_t count = std::min({size, piece_, bytes_.size() - position_});
    std::copy_n(bytes_.data() + position_, count, data);
    position_ += count;
    return static_cast<std::ptrdiff_t>(count);
  }
  std::uint64_t Size() const override { return bytes_.size(); }

 private:
  const std::string& bytes_;
  std::size_t piece_;
  Plan* plan_;
  std::size_t position_ = 0;
};

class MemoryWriter : public platform::WriteHandle {
 public:
  MemoryWriter(std::string& bytes, Plan* plan) : bytes_(bytes), plan_(plan) {}
  bool Write(const std::uint8_t* data, std::size_t size) override {
    if (closed_ || (plan_ != nullptr && plan_->Fails(kWrite))) return false;
    bytes_.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  bool Flush() override { return !closed_ && !(plan_ != nullptr && plan_->Fails(kFlush)); }
  bool SetPermissions(std::uint32_t) override { return !closed_ && !(plan_ != nullptr && plan_->Fails(kChmod)); }
  bool Close() override {
    if (closed_) return false;
    closed_ = true;
    return !(plan_ != nullptr && plan_->Fails(kClose));
  }

 private:
  std::string& bytes_;
  Plan* plan_;
  bool closed_ = false;
};

class MemoryFiles : public platform::FileSystem {
 public:
  MemoryFiles(std::size_t piece, Plan& plan) : piece_(piece), plan_(plan) {}

  std::map<std::string, std::string> files;

  std::unique_ptr<platform::ReadHandle> OpenForRead(const std::string& path) override {
    if (plan_.Fails(kOpen) || files.count(path) == 0) return nullptr;
    return std::make_unique<MemoryReader>(files[path], piece_, &plan_);
  }
  std::unique_ptr<platform::WriteHandle> CreateUnique(const std::string& directory, const std::string& prefix,
                                                      std::string& created_path) override {
    if (plan_.Fails(kCreate)) return nullptr;
    created_path = directory + "/" + prefix + std::to_string(++created_);
    return std::make_unique<MemoryWriter>(files[created_path], &plan_);
  }
  bool Rename(const std::string& from, const std::string& to) override {
    if (plan_.Fails(kRename) || files.count(from) == 0) return false;
    std::string moved = std::move(files[from]);
    files.erase(from);
    files[to] = std::move(moved);
    return true;
  }
  bool Remove(const std::string& path) override { return !plan_.Fails(kRemove) && files.erase(path) > 0; }
  platform::FileInfo Stat(const std::string& path) override {
    platform::FileInfo info;
    if (files.count(path) == 0) return info;
    info.exists = info.regular = true;
    info.inode = std::hash<std::string>()(path);
    info.permissions = 0644;
    return info;
  }
  std::string ResolveLinks(const std::string& path) override { return path; }

 private:
  std::size_t piece_;
  Plan& plan_;
  int created_ = 0;
};

// ---- Runs ----------------------------------------------------------------------------

struct Buffers {
  std::size_t piece;   // the most bytes one read of the file hands out
  std::size_t reader;  // the reader's buffer
  std::size_t writer;  // the writer's buffer
};

std::string RunRoutine(const Rule& rule, const std::string& file, const Buffers& sizes) {
  std::string out;
  MemoryReader source(file, sizes.piece, nullptr);
  MemoryWriter output(out, nullptr);
  {
    platform::ByteReader in(source, sizes.reader);
    platform::ByteWriter writer(output, sizes.writer);
    rule.routine(in, writer);
    Check(writer.Drain(), "a conversion in memory cannot fail");
    Check(in.AtEnd() && !in.Failed() && in.BytesRead() == file.size(), "a routine reads its whole source");
  }
  return out;
}

// Adds up the bytes a file hands out, beyond the life of the handle.
class Tally : public platform::ReadHandle {
 public:
  Tally(std::unique_ptr<platform::ReadHandle> file, std::size_t& total) : file_(std::move(file)), total_(total) {}
  std::ptrdiff_t Read(std::uint8_t* data, std::size_t size) override {
    std::ptrdiff_t got = file_->Read(data, size);
    if (got > 0) total_ += static_cast<std::size_t>(got);
    return got;
  }
  std::uint64_t Size() const override { return file_->Size(); }

 private:
  std::unique_ptr<platform::ReadHandle> file_;
  std::size_t& total_;
};

class TallyingFiles : public MemoryFiles {
 public:
  using MemoryFiles::MemoryFiles;
  std::size_t handed_out = 0;
  std::unique_ptr<platform::ReadHandle> OpenForRead(const std::string& path) override {
    std::unique_ptr<platform::ReadHandle> file = MemoryFiles::OpenForRead(path);
    if (!file) return nullptr;
    return std::make_unique<Tally>(std::move(file), handed_out);
  }
};

// Detects the kind of `file` split into reads of `piece` bytes, with `plan` failing an
// operation or none.
tarnwhistle::Detection RunDetect(const std::string& file, std::size_t piece, Plan& plan) {
  TallyingFiles fs(piece, plan);
  fs.files["/in"] = file;
  tarnwhistle::Detection detection = tarnwhistle::DetectLineEndings(fs, "/in");
  Check(fs.handed_out <= 258, "detection reads at most 258 bytes");
  Check(fs.files.size() == 1 && fs.files["/in"] == file, "detection only reads");
  return detection;
}

bool Has(const std::string& text, char byte) { return text.find(byte) != std::string::npos; }

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

  // Detection: the model's verdict, however the reads are split; or, when its open or
  // a read fails, that failure and no verdict.
  const LineEndingKind verdict = ModelDetect(file);
  Plan never(-1, 0);
  tarnwhistle::Detection clean = RunDetect(file, sizes.piece, never);
  Check(clean.status == Status::Ok && clean.verdict == verdict, "detection agrees with the model");
  Plan detect_plan(fail_op, fail_nth);
  tarnwhistle::Detection failing = RunDetect(file, sizes.piece, detect_plan);
  if (!detect_plan.Fired()) {
    Check(failing.status == Status::Ok && failing.verdict == verdict, "detection agrees with the model");
  } else {
    Check(failing.verdict == LineEndingKind::None, "a failed detection has no verdict");
    Check(failing.status == (fail_op == kOpen ? Status::SourceCannotOpen : Status::SourceReadFailed),
          "a failed detection says what failed");
  }

  // The chosen routine: the model's output, whatever the buffer sizes.
  const std::string converted = RunRoutine(chosen, file, sizes);
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
  if (back != nullptr) Check(RunRoutine(*back, converted, sizes) == file, "a round trip gives back the file");
  if (&chosen == &dos_to_unix || &chosen == &mac_to_unix) Check(!Has(converted, '\r'), "a UNIX result has no CR");
  if (&chosen == &dos_to_mac || &chosen == &unix_to_mac) Check(!Has(converted, '\n'), "a MAC result has no LF");
  // An MS-DOS file keeps its first line end, now a UNIX one; so does a MAC file.
  if (verdict == LineEndingKind::MsDos && &chosen == &dos_to_unix) {
    Check(ModelDetect(converted) == LineEndingKind::Unix, "MS-DOS to UNIX keeps the first line end");
  }
  if (verdict == LineEndingKind::Mac && &chosen == &mac_to_unix) {
    Check(ModelDetect(converted) == LineEndingKind::Unix, "MAC to UNIX keeps the first line end");
  }

  if (!whole_path) return 0;
  // The whole file path of one routine, with one operation failing (or none): either
  // the output is exactly the model's and nothing else is left, or the conversion says
  // it failed and every file is as it was.
  Plan plan(fail_op, fail_nth);
  MemoryFiles fs(sizes.piece, plan);
  fs.files["/d/in"] = file;
  if (output_exists) fs.files["/d/out"] = "old output";
  const std::map<std::string, std::string> before = fs.files;
  const Status status = tarnwhistle::ConvertFile(fs, chosen.routine, "/d/in", "/d/out");
  Check(!(fail_op == kRemove && plan.Fired()), "a conversion removes nothing unless something failed");
  if (!plan.Fired()) {
    Check(status == Status::Ok, "a conversion with nothing failing succeeds");
    Check(fs.files["/d/out"] == ModelConvert(chosen, file), "the output is the model's");
    Check(fs.files["/d/in"] == file, "the source is only read");
    Check(fs.files.size() == 2, "no working file is left");
  } else {
    Check(status != Status::Ok, "a failure is reported");
    if (fail_op == kOpen) Check(status == Status::SourceCannotOpen, "a source that cannot be opened is reported so");
    if (fail_op == kRead) Check(status == Status::SourceReadFailed, "a failed read is reported so");
    Check(fs.files == before, "a failed conversion leaves every file as it was");
  }
  return 0;
}
