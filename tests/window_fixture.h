#pragma once

// Drives a window through its controls, found by their objectNames, as a user would:
// the one copy of these helpers for every window suite. Each action waits until the
// work it starts in the background has ended.

#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <atomic>
#include <string>

#include "engine/line_ending_kind.h"
#include "engine/pipeline.h"
#include "fake_window_services.h"
#include "racing_file_system.h"
#include "temp_dir.h"

namespace tarnwhistle::testkit {

class WindowDriver {
 public:
  virtual ~WindowDriver() = default;

  template <typename T = QWidget>
  T* Find(const char* name) {
    T* found = Driven().findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  QLineEdit* Box(const char* name) { return Find<QLineEdit>(name); }

  // The target option for `kind`, told apart by its id in the options' group.
  QRadioButton* Option(LineEndingKind kind, const char* name = "Opt1") {
    for (QRadioButton* option : Driven().findChildren<QRadioButton*>(name)) {
      if (option->group() != nullptr && option->group()->id(option) == static_cast<int>(kind)) return option;
    }
    ADD_FAILURE() << "no option for kind " << static_cast<int>(kind);
    return nullptr;
  }

  void Type(const char* box, const std::string& text) {
    QLineEdit* found = Box(box);
    ASSERT_NE(found, nullptr);
    found->setText(QString::fromStdString(text));
  }
  void Click(const char* button) {
    auto* found = Find<QPushButton>(button);
    ASSERT_NE(found, nullptr);
    found->click();
    ASSERT_NO_FATAL_FAILURE(WaitIdle());
  }
  void Choose(LineEndingKind target) {
    QRadioButton* option = Option(target);
    ASSERT_NE(option, nullptr);
    option->click();
  }
  // A fresh path in Txt1 (which forgets any verdict), then the detect button.
  void Detect(const std::string& path) {
    ASSERT_NO_FATAL_FAILURE(Type("Txt1", ""));
    ASSERT_NO_FATAL_FAILURE(Type("Txt1", path));
    ASSERT_NO_FATAL_FAILURE(Click("Cmd1"));
  }
  // Chooses `target`, types `output` into Txt3 and presses Convert.
  void Convert(LineEndingKind target, const std::string& output) {
    ASSERT_NO_FATAL_FAILURE(Choose(target));
    ASSERT_NO_FATAL_FAILURE(Type("Txt3", output));
    ASSERT_NO_FATAL_FAILURE(Click("Cmd2"));
  }
  void WaitIdle() { ASSERT_TRUE(QTest::qWaitFor([this] { return !Busy(); }, wait_ms)) << "still working"; }

  int wait_ms = 60000;  // how long work may take before a test gives up on it

 protected:
  virtual QWidget& Driven() = 0;
  virtual bool Busy() = 0;
};

// A window of type W on the file system `Files` (the real disk, in a fresh folder, with
// moments a Gate can hold, unless told otherwise), with services that show nothing.
template <typename W, typename Files = RacingFileSystem>
class WindowTest : public ::testing::Test, public WindowDriver {
 protected:
  QWidget& Driven() override { return window; }
  bool Busy() override { return window.Busy(); }

  TempDir dir;
  Files files;
  FakeWindowServices services;
  W window{files, services};
};

// Holds every working thread that reaches `point` of `files` until Open(), so that a
// test can act while the work is at exactly that point.
class Gate {
 public:
  Gate(RacingFileSystem& files, RacePoint point) : files_(files) {
    files_.SetHook([this, point](RacePoint reached) {
      if (reached != point) return;
      ++waiting_;
      open_.Take();  // nothing is ever given: it returns once Open() closes the channel
    });
  }
  ~Gate() {
    Open();
    files_.SetHook(nullptr);
  }
  bool Reached() const { return waiting_ > 0; }
  void Open() { open_.Close(); }

 private:
  RacingFileSystem& files_;
  Channel<char> open_;
  std::atomic<int> waiting_ = 0;
};

}  // namespace tarnwhistle::testkit
