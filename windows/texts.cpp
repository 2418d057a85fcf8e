#include "texts.h"

#include <QCoreApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <filesystem>
#include <system_error>

namespace tarnwhistle::windows {

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

std::optional<std::string> UnambiguousLocalPath(const QString& path) {
  const std::string bytes = LocalPath(path);
  if (!path.contains(QChar::ReplacementCharacter)) return bytes;  // every name that reads so is exactly these bytes
  std::filesystem::path above;
  for (const std::filesystem::path& part : std::filesystem::path(bytes)) {
    const QString text = QFile::decodeName(QByteArray::fromStdString(part.native()));
    if (text.contains(QChar::ReplacementCharacter)) {
      std::error_code error;
      for (std::filesystem::directory_iterator entry(above.empty() ? "." : above, error), end; !error && entry != end;
           entry.increment(error)) {
        const std::string name = entry->path().filename().native();
        if (name != part.native() && QFile::decodeName(QByteArray::fromStdString(name)) == text) return std::nullopt;
      }
    }
    above /= part;
  }
  return bytes;
}

QString CountsText(const LineEndingCounts& counts, Encoding encoding) {
  const QLocale japanese(QLocale::Japanese, QLocale::Japan);  // thousands separated by commas
  QString text = QStringLiteral("CR LF: %1 行　LF: %2 行　CR: %3 行")
                     .arg(japanese.toString(static_cast<qulonglong>(counts.crlf)),
                          japanese.toString(static_cast<qulonglong>(counts.lf)),
                          japanese.toString(static_cast<qulonglong>(counts.cr)));
  if (counts.Mixed()) text += QStringLiteral("（混在）");
  if (encoding != Encoding::Bytes) text += QStringLiteral("　") + Text(EncodingName(encoding));
  return text;
}

QTranslator* InstallQtJapanese() {
  // Dates, sizes and numbers in Qt's own dialogs follow the default locale.
  QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return nullptr;
  }
  return translator;
}

}  // namespace tarnwhistle::windows
