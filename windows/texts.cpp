#include "texts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <clocale>
#include <cstdlib>

namespace tarnwhistle::windows {
namespace {

bool HasLookAlike(const QString& text) { return text.contains(QChar::ReplacementCharacter); }

// The names in the folder at `folder` that read as `text`, as bytes.
std::vector<std::string> NamesReadingAs(platform::FileReader& files, const std::string& folder, const QString& text) {
  std::vector<std::string> alike;
  const auto place = files.Locate(folder);
  if (!place) return alike;
  const auto opened = files.OpenFolder(place.value);
  std::vector<platform::FolderEntry> entries;
  if (!opened || files.List(opened.value, entries) != platform::Reason::kNone) return alike;
  for (const platform::FolderEntry& entry : entries) {
    if (QFile::decodeName(QByteArray::fromStdString(entry.name)) == text) alike.push_back(entry.name);
  }
  return alike;
}

// The value LC_TIME had before PrepareQtJapanese(), to be given back.
std::optional<std::string>& SavedTimeLocale() {
  static std::optional<std::string> saved;
  return saved;
}
bool prepared = false;

}  // namespace

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString PathText(const std::string& path) { return QDir::toNativeSeparators(QFile::decodeName(path.c_str())); }

std::optional<std::string> UnambiguousLocalPath(platform::FileReader& files, const QString& path) {
  const std::string bytes = LocalPath(path);
  if (!HasLookAlike(path)) return bytes;  // every name that reads so is exactly these bytes
  std::string found = bytes.front() == '/' ? "/" : ".";
  const std::vector<std::string> names = platform::NamesLastFirst(bytes);
  for (auto part = names.rbegin(); part != names.rend(); ++part) {
    std::string name = *part;
    const QString text = QFile::decodeName(QByteArray::fromStdString(name));
    if (HasLookAlike(text)) {
      const std::vector<std::string> alike = NamesReadingAs(files, found, text);
      if (alike.size() > 1) return std::nullopt;
      if (alike.size() == 1) name = alike.front();  // the bytes the text was read from
    }
    found = platform::JoinPath(found, name);
  }
  return bytes.front() == '/' ? found : found.substr(2);  // without the "./" it was looked up from
}

QString CountsText(const LineEndingCounts& counts, std::string_view encoding) {
  const QLocale japanese(QLocale::Japanese, QLocale::Japan);  // thousands separated by commas
  QString text = QStringLiteral("CR LF: %1 行　LF: %2 行　CR: %3 行")
                     .arg(japanese.toString(static_cast<qulonglong>(counts.crlf)),
                          japanese.toString(static_cast<qulonglong>(counts.lf)),
                          japanese.toString(static_cast<qulonglong>(counts.cr)));
  if (counts.Mixed()) text += QStringLiteral("（混在）");
  return WithEncoding(text, encoding);
}

QString WithEncoding(QString text, std::string_view encoding) {
  if (!encoding.empty()) text += QStringLiteral("　") + Text(encoding);
  return text;
}

void PrepareQtJapanese() {
  if (const char* time = std::getenv("LC_TIME")) SavedTimeLocale() = time;
  prepared = true;
  ::setenv("LC_TIME", "ja_JP.UTF-8", 1);
}

QTranslator* InstallQtJapanese() {
  if (std::exchange(prepared, false)) {
    // Qt has read it; the C library, which QApplication set from the environment, is
    // set again from the user's own (a Japanese locale need not be installed).
    if (SavedTimeLocale()) {
      ::setenv("LC_TIME", SavedTimeLocale()->c_str(), 1);
    } else {
      ::unsetenv("LC_TIME");
    }
    std::setlocale(LC_ALL, "");
  }
  // Dates, sizes and numbers that Qt formats with the default locale.
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
