#pragma once

#include <QString>
#include <string>
#include <string_view>

class QTranslator;

namespace tarnwhistle::windows {

inline QString Text(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// A path as typed in a box, as the bytes the file system takes.
std::string LocalPath(const QString& path);

// Puts Qt's own texts (the file dialog, context menus, standard buttons) into Japanese,
// whatever the locale, since the whole interface is Japanese. Returns the translator,
// owned by the application, or null when Qt's translation is not installed.
QTranslator* InstallQtJapanese();

}  // namespace tarnwhistle::windows
