#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>

#include "engine/statistics.h"

class QTranslator;

namespace tarnwhistle::windows {

inline QString Text(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// A path as typed in a box, as the bytes the file system takes.
std::string LocalPath(const QString& path);

// LocalPath, or nothing where the text may stand for another file than the one its
// bytes name. A name that is not valid UTF-8 (bad\xff.txt) reads as U+FFFD and cannot
// be told apart in a QString from a real U+FFFD (bad\uFFFD.txt); where both exist, the
// text is refused rather than taken for the wrong one.
std::optional<std::string> UnambiguousLocalPath(const QString& path);

// A whole file's line ends, for the status line: "CR LF: 1,200 行　LF: 3 行　CR: 0 行（混在）",
// the last part only when more than one kind occurs.
QString CountsText(const LineEndingCounts& counts, Encoding encoding);

// Puts Qt's own texts (the file dialog, context menus, standard buttons) into Japanese,
// and makes Japanese the default locale (dates and sizes in the file dialog), whatever
// the system's locale, since the whole interface is Japanese. Returns the translator,
// owned by the application, or null when Qt's translation is not installed.
QTranslator* InstallQtJapanese();

}  // namespace tarnwhistle::windows
