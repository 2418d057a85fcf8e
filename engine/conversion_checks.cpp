#include "conversion_checks.h"

#include "messages.h"

namespace tarnwhistle {

std::string_view FirstRefusal(platform::FileSystem& fs, const ConversionRequest& request) {
  using K = LineEndingKind;
  if (request.source.empty()) return messages::kNoSourceName;
  if (request.detected == K::Binary) return messages::kBinarySource;
  if (request.detected == K::None) return messages::kNotDetected;
  if (request.target == K::None) return messages::kNoTarget;
  if (request.detected == request.target) return messages::kSameKind;
  if (request.output == request.source || platform::SameExistingFile(fs, request.source, request.output)) {
    return messages::kSameFile;
  }
  if (request.output.empty()) return messages::kNoOutputName;
  return {};
}

}  // namespace tarnwhistle
