#pragma once

#include <QStringList>
#include <functional>
#include <vector>

#include "platform/window_services.h"

namespace tarnwhistle::testkit {

// Window services that show nothing: tests read what would have been shown, and can
// answer the file dialog or cancel a progress report ahead of time.
class FakeWindowServices : public platform::WindowServices {
 public:
  QStringList messages;                         // every message box, in order
  QString file_to_open;                         // the file dialog's next answer
  QList<platform::Drive> drives = {{"/", "", true}};
  int cancel_at_update = 0;                     // 0: never; n: the nth progress update cancels
  int progress_updates = 0;
  std::function<void()> on_update;             // called at every progress update, as the work goes on
  QStringList paths_to_answer;                  // the next path dialog's answer
  bool confirm_answer = true;
  QStringList confirmations;                    // every question asked, in order

  void ShowMessage(QWidget*, const QString& text) override { messages.append(text); }

  std::unique_ptr<platform::ProgressReport> StartProgress(QWidget*, const QString&) override {
    return std::make_unique<Progress>(*this);
  }

  QString AskFileToOpen(QWidget*, const QString&) override { return file_to_open; }

  QList<platform::Drive> Drives() override { return drives; }

  bool Confirm(QWidget*, const QString& text) override {
    confirmations.append(text);
    return confirm_answer;
  }

  QStringList AskPaths(QWidget*, PathRequest, const QString&) override { return paths_to_answer; }

 private:
  class Progress : public platform::ProgressReport {
   public:
    explicit Progress(FakeWindowServices& owner) : owner_(owner) {}
    bool Update(std::uint64_t, std::uint64_t) override {
      if (owner_.on_update) owner_.on_update();
      return ++owner_.progress_updates != owner_.cancel_at_update;
    }

   private:
    FakeWindowServices& owner_;
  };
};

}  // namespace tarnwhistle::testkit
