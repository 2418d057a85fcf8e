#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>

#include "engine/statistics.h"
#include "platform/file_system.h"

class QTranslator;

namespace tarnwhistle::windows {

inline QString Text(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// A path as typed in a box, as the bytes the file system takes.
std::string LocalPath(const QString& path);

// A path's bytes as a box shows them (a name that is not UTF-8 shows U+FFFD).
QString PathText(const std::string& path);

// The bytes of the file `path` names as it reads, or nothing where it may stand for more
// than one. A name that is not valid UTF-8 (a Shift_JIS name from a Windows zip file,
// bad\xff.txt) reads as U+FFFD, as Qt's dialogs and lists give it: it stands for the one
// name in its folder that reads so, whose bytes are taken. Where several read alike
// (bad\xfe.txt, or a real U+FFFD), the text is refused rather than taken for the wrong
// one. The folders on the way are listed through `files`. Text with no U+FFFD is
// LocalPath's UTF-8.
std::optional<std::string> UnambiguousLocalPath(platform::FileReader& files, const QString& path);

// A whole file's line ends, for the status line: "CR LF: 1,200 行　LF: 3 行　CR: 0 行（混在）",
// the last part only when more than one kind occurs, and the encoding after it when it
// can be told (NameEncoding).
QString CountsText(const LineEndingCounts& counts, std::string_view encoding);

// `text` with the encoding after it ("　UTF-16LE", "　Shift_JIS（推定）"), as it is when
// none can be told.
QString WithEncoding(QString text, std::string_view encoding);

// Qt formats the dates of its file dialog with the system's locale, which it reads from
// the environment once, as the application starts: called before the QApplication is
// made, this has Qt read Japanese for dates (LC_TIME) whatever the user's locale.
void PrepareQtJapanese();

// Puts Qt's own texts (the file dialog, context menus, standard buttons) into Japanese,
// makes Japanese the default locale, and gives the environment and the C library's
// locale back what PrepareQtJapanese() changed. Returns the translator, owned by the
// application, or null when Qt's translation is not installed.
QTranslator* InstallQtJapanese();

}  // namespace tarnwhistle::windows
