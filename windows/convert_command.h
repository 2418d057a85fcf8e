#pragma once

#include "engine/conversion_request.h"
#include "platform/file_system.h"
#include "platform/window_services.h"

class QWidget;

namespace tarnwhistle::windows {

// The Convert button's work: the checks in their order, then the one routine for the
// pair of kinds, then one message saying how it went. A refusal opens no file; a
// failure leaves every file as it was; "変換しました" follows only a completed
// conversion. It changes neither kind, so one detection serves many conversions.
void RunConvertCommand(platform::FileSystem& fs, platform::WindowServices& services, QWidget* window,
                       const ConversionRequest& request);

}  // namespace tarnwhistle::windows
