// Runs every test inside one QApplication, headless unless a platform is chosen, set up
// as the program sets itself up, with the windows' settings in a folder of the run's own
// that every test starts empty.

#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <cstdlib>

#include "temp_dir.h"
#include "windows/controls.h"
#include "windows/texts.h"

namespace {

class ForgetSettings : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override { tarnwhistle::windows::WindowSettings().clear(); }
};

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
  const tarnwhistle::testkit::TempDir config;  // never the user's own settings
  setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
  tarnwhistle::windows::PrepareQtJapanese();
  QApplication app(argc, argv);
  tarnwhistle::windows::InstallQtJapanese();
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new ForgetSettings);
  return RUN_ALL_TESTS();
}
