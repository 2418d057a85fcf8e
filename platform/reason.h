#pragma once

#include <cerrno>
#include <utility>

namespace tarnwhistle::platform {

// Why an operation on a file did not happen. Positive values are the system's own errno
// codes (EACCES, ENOSPC, EROFS...) as they came; the negative ones are reasons the
// program finds for itself, so the two never meet. kNone is no failure.
enum class Reason : int {
  kNone = 0,
  kNotAFile = -1,                  // a FIFO, a device or a socket where a regular file was wanted
  kLinkNotFollowed = -2,           // a link the kernel's protected_symlinks rule would not follow
  kOthersFileInSharedFolder = -3,  // another user's file in a sticky folder anyone may write to
  kOwnerNotKept = -4,              // an existing output whose owner the new file cannot be given
  kChangedWhileRead = -5,          // the source's size or time changed, or it held more or fewer bytes
  kNulCharacter = -6,              // a NUL byte (in UTF-16, a NUL code unit): not text
  kSymbolicLink = -7,              // a link met where none may be followed (inside a walk)
  kStopped = -8,                   // the user asked to stop first
  kSameOutput = -9,                // another file of the same batch lands on the same output
  kControlCharacter = -10,         // a control character before the first line break: not text
  kOthersFolder = -11,             // an output folder that exists and belongs to another user
  kFolderTooOpen = -12,            // an output folder that exists and is more open than its source
  kOutputIsSource = -13,           // the output would be the source itself
};

constexpr Reason FromErrno(int error) { return static_cast<Reason>(error); }
inline Reason LastError() { return FromErrno(errno); }

// A value, or the reason there is none.
template <typename T>
struct OrReason {
  OrReason(T v) : value(std::move(v)) {}  // NOLINT: a value converts, as an optional's would
  // No reason is no value either: a value made up by default is never taken for one.
  OrReason(Reason r) : reason(r == Reason::kNone ? FromErrno(EINVAL) : r) {}  // NOLINT
  explicit operator bool() const { return reason == Reason::kNone; }
  T value{};
  Reason reason = Reason::kNone;
};

}  // namespace tarnwhistle::platform
