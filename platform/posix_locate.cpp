// PosixFileSystem::Locate: a path walked name by name from folders held open.
#include "posix_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "posix_file_system_internal.h"

namespace tarnwhistle::platform {
namespace {

// How many links one path may lead through, as the kernel allows.
constexpr int kMostLinks = 40;

// Whether the kernel's protected_symlinks rule lets the effective user follow `link`,
// found in the folder `at`: in a sticky folder anyone may write to, only a link of the
// follower's own or of the folder's owner.
bool MayFollow(int at, const struct stat& link) {
  struct stat parent;
  return ::fstat(at, &parent) == 0 && TrustedInFolder(InfoOf(parent), link.st_uid, ::geteuid());
}

// A path being resolved: the folder reached, held open, its text for messages, and the
// names still to walk, last first.
struct Walk {
  Descriptor at;
  std::string walked;
  std::vector<std::string> pending;
  int links = 0;
};

// Replaces the link `part`, found in the folder reached, by its target's names; only
// where the kernel's protected_symlinks rule would follow it.
Reason FollowLink(Walk& walk, const std::string& part, const struct stat& link) {
  if (++walk.links > kMostLinks) return FromErrno(ELOOP);
  if (!MayFollow(walk.at.get(), link)) return Reason::kLinkNotFollowed;
  // As long as the system lets a link be, whatever its size says: the links of /proc
  // (/proc/self/cwd, /dev/stdout's /proc/self/fd/1) say 0.
  std::string target(PATH_MAX, '\0');
  const ssize_t size = ::readlinkat(walk.at.get(), part.c_str(), target.data(), target.size());
  if (size < 0) return LastError();
  if (static_cast<std::size_t>(size) >= target.size()) return FromErrno(ENAMETOOLONG);
  target.resize(static_cast<std::size_t>(size));
  if (!target.empty() && target.front() == '/') {
    walk.at = Descriptor(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    walk.walked.assign(1, '/');  // not = "/": GCC 12 warns of a memcpy it imagines (-Wrestrict)
  }
  std::vector<std::string> more = NamesLastFirst(target);
  if (more.empty()) more.push_back(".");
  walk.pending.insert(walk.pending.end(), more.begin(), more.end());
  return Reason::kNone;
}

}  // namespace

OrReason<Place> PosixFileSystem::Locate(const std::string& path) {
  if (path.empty()) return FromErrno(ENOENT);
  const bool absolute = path.front() == '/';
  Walk walk{Descriptor(::open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC)), absolute ? "/" : "",
            NamesLastFirst(path)};
  if (walk.at.get() < 0) return LastError();
  if (walk.pending.empty()) walk.pending.push_back(".");  // "/" names the root itself
  for (;;) {
    std::string part = std::move(walk.pending.back());
    walk.pending.pop_back();
    const bool last = walk.pending.empty();
    if (part == "." && !last) continue;
    struct stat st;
    if (::fstatat(walk.at.get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT || !last) return LastError();
      walk.pending.push_back(std::move(part));  // a file yet to be made
      break;
    }
    if (S_ISLNK(st.st_mode)) {
      if (Reason followed = FollowLink(walk, part, st); followed != Reason::kNone) return followed;
      continue;
    }
    if (last) {
      walk.pending.push_back(std::move(part));  // the name the place ends in
      break;
    }
    if (!S_ISDIR(st.st_mode)) return FromErrno(ENOTDIR);
    Descriptor next(::openat(walk.at.get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (next.get() < 0) {
      if (errno != ENOTDIR && errno != ELOOP) return LastError();
      if (++walk.links > kMostLinks) return FromErrno(ELOOP);
      walk.pending.push_back(std::move(part));  // swapped for a link since it was looked at: the rule decides again
      continue;
    }
    walk.at = std::move(next);
    walk.walked = JoinPath(walk.walked, part);
  }
  Place place{std::make_shared<PosixFolder>(std::move(walk.at), walk.walked.empty() ? "." : walk.walked),
              std::move(walk.pending.back())};
  return place;
}

}  // namespace tarnwhistle::platform
