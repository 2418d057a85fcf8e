#include "convert_command.h"

#include "engine/messages.h"
#include "platform/interrupts.h"
#include "texts.h"

namespace tarnwhistle::windows {

void RunConvertCommand(platform::FileSystem& fs, platform::WindowServices& services, QWidget* window,
                       const ConversionRequest& request) {
  // A logout (SIGHUP) or a kill during a conversion stops it like the cancel button,
  // and the window then ends by that signal.
  platform::InterruptCatcher interrupts;
  ConversionOutcome outcome;
  {
    std::unique_ptr<platform::ProgressReport> progress =
        services.StartProgress(window, Text(messages::kConverting));
    outcome = CheckAndConvert(fs, request, [&progress, &interrupts](std::uint64_t done, std::uint64_t total) {
      return progress->Update(done, total) && !interrupts.Caught();
    });
  }  // the progress report closes before any message appears
  interrupts.ResendIfCaught();
  if (!outcome.Message().empty()) services.ShowMessage(window, Text(outcome.Message()));
}

}  // namespace tarnwhistle::windows
