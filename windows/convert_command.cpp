#include "convert_command.h"

#include "engine/messages.h"
#include "texts.h"

namespace tarnwhistle::windows {

void RunConvertCommand(platform::FileSystem& fs, platform::WindowServices& services, QWidget* window,
                       const ConversionRequest& request) {
  ConversionOutcome outcome;
  {
    std::unique_ptr<platform::ProgressReport> progress =
        services.StartProgress(window, Text(messages::kConverting));
    outcome = CheckAndConvert(fs, request,
                              [&progress](std::uint64_t done, std::uint64_t total) { return progress->Update(done, total); });
  }  // the progress report closes before any message appears
  if (!outcome.Message().empty()) services.ShowMessage(window, Text(outcome.Message()));
}

}  // namespace tarnwhistle::windows
