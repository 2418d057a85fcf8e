#include "messages.h"

namespace tarnwhistle::messages {

std::string_view ForStatus(Status status) {
  switch (status) {
    case Status::SourceCannotOpen: return kSourceMissing;
    case Status::SourceReadFailed: return kSourceUnreadable;
    case Status::SourceNotText: return kBinarySource;
    case Status::OutputCannotWrite: return kOutputUnwritable;
    case Status::Ok:
    case Status::Cancelled: break;
  }
  return {};
}

}  // namespace tarnwhistle::messages
