#include "replacement_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "system.h"

namespace tarnwhistle::platform {
namespace {

// The longest name of a folder entry the system takes.
constexpr std::size_t kLongestName = 255;

constexpr std::uint32_t kSetGroupId = 02000;
constexpr std::uint32_t kAccessBits = 0777;

constexpr std::string_view kWorkingMarker = ".tarnwhistle-";
constexpr std::size_t kBootLength = 8;

// ".tarnwhistle-BOOT-PID-START-": what every working file of this process carries.
std::string ProcessMark() { return std::string(kWorkingMarker) + ThisBoot() + "-" + ThisProcess() + "-"; }

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The start of the target's `name` that the working file's name repeats: all of it when
// the working file's name then stays within the system's limit, else as much as fits,
// cut between two UTF-8 characters. A target with a long name (85 Japanese characters
// fill an entry) is still written, its working file's name only shorter.
std::string KeptPartOfName(const std::string& name) {
  const std::size_t extra = 1 + ProcessMark().size() + FileSystem::kUniqueSuffixLength;
  const std::size_t room = kLongestName - extra;
  if (name.size() <= room) return name;
  std::size_t cut = room;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut);
}

}  // namespace

std::string WorkingFilePrefix(const std::string& name) {
  std::string prefix(1, '.');  // appended to, as GCC 12 warns of "." + ... (-Wrestrict)
  prefix += KeptPartOfName(name);
  prefix += ProcessMark();
  return prefix;
}

WorkingFileState WorkingFileStateOf(std::string_view name) {
  const std::size_t marker = name.rfind(kWorkingMarker);
  if (!name.starts_with('.') || marker == std::string_view::npos) return WorkingFileState::NotOurs;
  // BOOT-PID-START-XXXXXXXX
  std::string_view rest = name.substr(marker + kWorkingMarker.size());
  std::string_view fields[4];
  for (int i = 0; i < 3; ++i) {
    const std::size_t dash = rest.find('-');
    if (dash == std::string_view::npos) return WorkingFileState::NotOurs;
    fields[i] = rest.substr(0, dash);
    rest.remove_prefix(dash + 1);
  }
  fields[3] = rest;
  if (fields[0].size() != kBootLength || !AllDigits(fields[1]) || !AllDigits(fields[2]) ||
      fields[3].size() != FileSystem::kUniqueSuffixLength ||
      !std::all_of(fields[3].begin(), fields[3].end(), [](unsigned char c) { return std::isalnum(c); })) {
    return WorkingFileState::NotOurs;
  }
  if (fields[0] != ThisBoot()) return WorkingFileState::OtherBoot;
  std::uint32_t pid = 0;
  std::from_chars(fields[1].data(), fields[1].data() + fields[1].size(), pid);
  return ProcessRunning(pid, fields[2]) ? WorkingFileState::InUse : WorkingFileState::Abandoned;
}

OrReason<std::unique_ptr<ReplacementFile>> ReplacementFile::Create(FileSystem& fs, const Place& target,
                                                                   std::uint32_t source_permissions) {
  if (target.name.empty() || target.name == "." || target.name == "..") return FromErrno(EISDIR);
  const FileInfo existing = fs.Stat(target);
  switch (existing.kind) {
    case FileInfo::Kind::Missing:
    case FileInfo::Kind::File: break;
    case FileInfo::Kind::Folder: return FromErrno(EISDIR);
    case FileInfo::Kind::Link: return Reason::kSymbolicLink;  // put there since the path was resolved
    case FileInfo::Kind::Other: return Reason::kNotAFile;      // never replace a device or a FIFO
  }
  if (existing.exists() && existing.owner != fs.UserId() &&
      !TrustedInFolder(fs.StatFolder(target.folder), existing.owner, fs.UserId())) {
    return Reason::kOthersFileInSharedFolder;
  }

  OrReason<std::unique_ptr<WorkingFile>> file = fs.CreateWorkingFile(target.folder, WorkingFilePrefix(target.name));
  if (!file) return file.reason;

  std::uint32_t permissions = (source_permissions & kAccessBits) & ~fs.Umask();
  if (existing.exists()) {
    // Set at once, so that a target whose owner cannot be kept costs no conversion.
    const Ownership ownership = file.value->SetOwner(existing.owner, existing.group);
    if (ownership == Ownership::NotKept) return Reason::kOwnerNotKept;
    permissions = existing.permissions;
    // setgid means "runs as this group": never for a group the file no longer has.
    if (ownership == Ownership::OwnerOnly) permissions &= ~kSetGroupId;
    if (Reason copied = file.value->CopyAccessList(target); copied != Reason::kNone) return copied;
  }
  return std::unique_ptr<ReplacementFile>(
      new ReplacementFile(std::move(file.value), target, existing.exists(), permissions));
}

ReplacementFile::ReplacementFile(std::unique_ptr<WorkingFile> file, Place target, bool replaces_existing,
                                 std::uint32_t permissions)
    : file_(std::move(file)),
      target_(std::move(target)),
      replaces_existing_(replaces_existing),
      permissions_(permissions) {}

Reason ReplacementFile::Prepare(bool flush) {
  if (Reason set = file_->SetPermissions(permissions_); set != Reason::kNone) return set;
  if (modified_) {
    if (Reason set = file_->SetModified(modified_->modified_seconds, modified_->modified_nanoseconds);
        set != Reason::kNone) {
      return set;
    }
  }
  return flush ? file_->Flush() : Reason::kNone;
}

Reason ReplacementFile::Publish() { return file_->Publish(target_, replaces_existing_); }

Reason ReplacementFile::Commit(const std::stop_token& stop) {
  if (Reason prepared = Prepare(replaces_existing_); prepared != Reason::kNone) return prepared;
  if (stop.stop_requested()) return Reason::kStopped;
  return Publish();
}

}  // namespace tarnwhistle::platform
