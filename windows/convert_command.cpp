#include "convert_command.h"

#include "engine/conversion.h"
#include "engine/messages.h"
#include "texts.h"

namespace tarnwhistle::windows {

void RunConvertCommand(platform::FileSystem& fs, platform::WindowServices& services, QWidget* window,
                       const ConversionRequest& request) {
  std::string_view refusal = FirstRefusal(fs, request);
  if (!refusal.empty()) {
    services.ShowMessage(window, Text(refusal));
    return;
  }
  ConversionRoutine routine = RoutineFor(request.detected, request.target);
  if (routine == nullptr) return;  // the checks above leave no pair without a routine

  Status status;
  {
    std::unique_ptr<platform::ProgressReport> progress =
        services.StartProgress(window, Text(messages::kConverting));
    status = ConvertFile(fs, routine, request.source, request.output,
                         [&progress](std::uint64_t done, std::uint64_t total) { return progress->Update(done, total); });
  }  // the progress report closes before any message appears
  if (status == Status::Ok) {
    services.ShowMessage(window, Text(messages::kConverted));
  } else if (status != Status::Cancelled) {
    services.ShowMessage(window, Text(messages::ForStatus(status)));
  }
}

}  // namespace tarnwhistle::windows
