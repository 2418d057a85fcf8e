#pragma once

#include <QStringList>

#include "platform/window_services.h"

namespace tarnwhistle::testkit {

// Window services that show nothing: tests read what would have been shown, and answer
// the dialogs ahead of time.
class FakeWindowServices : public platform::WindowServices {
 public:
  QStringList messages;                // every message box, in order
  QString file_to_open;                // the Open dialog's next answer
  QString opened_at;                   // where the last dialog opened
  QList<platform::Drive> drives = {{"/", "", true}};
  QStringList paths_to_answer;         // the next path dialog's answer
  bool confirm_answer = true;
  QStringList confirmations;           // every question asked, with its button: "text [button]"
  QStringList opened_urls;             // every URL given to the desktop
  bool url_opens = true;

  void ShowMessage(QWidget*, const QString& text) override { messages.append(text); }
  QString AskFileToOpen(QWidget*, const QString& directory) override {
    opened_at = directory;
    return file_to_open;
  }
  QList<platform::Drive> Drives() override { return drives; }
  bool OpenUrl(const QString& url) override {
    opened_urls.append(url);
    return url_opens;
  }
  bool Confirm(QWidget*, const QString& text, const QString& accept) override {
    confirmations.append(text + " [" + accept + "]");
    return confirm_answer;
  }
  QStringList AskPaths(QWidget*, PathRequest, const QString& directory) override {
    opened_at = directory;
    return paths_to_answer;
  }
};

}  // namespace tarnwhistle::testkit
