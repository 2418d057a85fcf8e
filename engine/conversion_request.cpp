#include "conversion_request.h"

#include "messages.h"

namespace tarnwhistle {

std::string_view FirstRefusal(platform::FileSystem& fs, const ConversionRequest& request) {
  using K = LineEndingKind;
  if (request.source.empty()) return messages::kNoSourceName;
  if (request.detected == K::Binary) return messages::kBinarySource;
  if (request.detected == K::None) return messages::kNotDetected;
  if (request.target == K::None) return messages::kNoTarget;
  if (request.detected == request.target) return messages::kSameKind;
  if (request.in_place) return {};
  if (request.output == request.source || platform::SameExistingFile(fs, request.source, request.output)) {
    return messages::kSameFile;
  }
  if (request.output.empty()) return messages::kNoOutputName;
  return {};
}

std::string_view ConversionOutcome::Message() const {
  if (!refusal.empty()) return refusal;
  return status == Status::Ok ? messages::kConverted : messages::ForStatus(status);
}

ConversionOutcome CheckAndConvert(platform::FileSystem& fs, const ConversionRequest& request,
                                  const ConversionProgress& progress) {
  if (std::string_view refusal = FirstRefusal(fs, request); !refusal.empty()) return {refusal, Status::Ok};
  // The checks leave no pair of kinds without a routine.
  return {{}, ConvertFile(fs, RoutineFor(request.detected, request.target), request.source,
                         request.in_place ? request.source : request.output, progress)};
}

}  // namespace tarnwhistle
