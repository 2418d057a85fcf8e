#pragma once

#include "window_services.h"

namespace tarnwhistle::platform {

// The text files people convert: data, configuration, scripts, source code, subtitles
// and documents, and the usual names without an extension.
inline constexpr const char* kTextFilesFilter =
    "テキスト ファイル (*.txt *.text *.csv *.tsv *.log *.md *.markdown *.rst *.adoc *.tex *.srt *.vtt "
    "*.ini *.cfg *.conf *.config *.properties *.toml *.yml *.yaml *.json *.xml *.html *.htm *.css *.scss "
    "*.js *.jsx *.mjs *.ts *.tsx *.vue *.sql *.reg *.inf "
    "*.bat *.cmd *.ps1 *.psm1 *.vbs *.sh *.bash *.zsh *.fish "
    "*.c *.h *.cpp *.hpp *.cc *.cs *.java *.kt *.swift *.go *.rs *.py *.rb *.pl *.php *.lua *.r "
    "Makefile makefile GNUmakefile Dockerfile Containerfile Jenkinsfile Vagrantfile "
    "README* LICENSE* COPYING* CHANGELOG* NEWS* INSTALL* AUTHORS* TODO* *.mk *.cmake CMakeLists.txt)";

// The window services on a real Qt desktop.
class QtWindowServices : public WindowServices {
 public:
  // `title` heads every message box: the product's name.
  explicit QtWindowServices(QString title) : title_(std::move(title)) {}

  void ShowMessage(QWidget* parent, const QString& text) override;
  QString AskFileToOpen(QWidget* parent, const QString& directory) override;
  QList<Drive> Drives() override;
  bool OpenUrl(const QString& url) override;
  bool Confirm(QWidget* parent, const QString& text, const QString& accept) override;
  QStringList AskPaths(QWidget* parent, PathRequest request, const QString& directory) override;

 private:
  QString title_;
};

}  // namespace tarnwhistle::platform
