#include "convert_command.h"

#include "engine/messages.h"
#include "platform/interrupts.h"
#include "texts.h"

namespace tarnwhistle::windows {

void RunConvertCommand(platform::FileSystem& fs, platform::WindowServices& services, QWidget* window,
                       const ConversionRequest& request) {
  ConversionOutcome outcome;
  {
    std::unique_ptr<platform::ProgressReport> progress =
        services.StartProgress(window, Text(messages::kConverting));
    std::stop_source stop;
    // A logout (SIGHUP) or a kill stops the conversion like the cancel button; the
    // program then ends by that signal (see main()).
    outcome = CheckAndConvert(fs, request, stop.get_token(), [&](std::uint64_t done, std::uint64_t total, Stage) {
      if (!progress->Update(done, total) || platform::InterruptRequested()) stop.request_stop();
    });
  }  // the progress report closes before any message appears
  if (platform::InterruptRequested()) return;
  if (!outcome.Message().empty()) services.ShowMessage(window, Text(outcome.Message()));
}

}  // namespace tarnwhistle::windows
