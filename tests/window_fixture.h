#pragma once

// Drives a window through its controls, found by their objectNames, as a user would:
// the one copy of these helpers for every window suite.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <string>

#include "engine/line_ending_kind.h"
#include "fake_window_services.h"
#include "platform/posix_file_system.h"
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
  QRadioButton* Option(LineEndingKind kind) {
    for (QRadioButton* option : Driven().findChildren<QRadioButton*>("Opt1")) {
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

 protected:
  virtual QWidget& Driven() = 0;
};

// A window of type W on the real disk, in a fresh folder, with services that show nothing.
template <typename W>
class WindowOnDisk : public ::testing::Test, public WindowDriver {
 protected:
  QWidget& Driven() override { return window; }

  TempDir dir;
  platform::PosixFileSystem files;
  FakeWindowServices services;
  W window{files, services};
};

}  // namespace tarnwhistle::testkit
