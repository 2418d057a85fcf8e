#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace tarnwhistle::windows {

inline QString Text(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// A path as typed in a box, as the bytes the file system takes.
std::string LocalPath(const QString& path);

}  // namespace tarnwhistle::windows
