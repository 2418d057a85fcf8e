#include "texts.h"

#include <QFile>

namespace tarnwhistle::windows {

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace tarnwhistle::windows
