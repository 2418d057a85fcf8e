#include "texts.h"

#include <QCoreApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace tarnwhistle::windows {

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString CountsText(const LineEndingCounts& counts) {
  const QLocale japanese(QLocale::Japanese, QLocale::Japan);  // thousands separated by commas
  QString text = QStringLiteral("CR LF: %1 行　LF: %2 行　CR: %3 行")
                     .arg(japanese.toString(static_cast<qulonglong>(counts.crlf)),
                          japanese.toString(static_cast<qulonglong>(counts.lf)),
                          japanese.toString(static_cast<qulonglong>(counts.cr)));
  if (counts.Mixed()) text += QStringLiteral("（混在）");
  return text;
}

QTranslator* InstallQtJapanese() {
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return nullptr;
  }
  return translator;
}

}  // namespace tarnwhistle::windows
