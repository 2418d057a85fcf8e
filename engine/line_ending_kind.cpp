#include "line_ending_kind.h"

namespace tarnwhistle {

std::string_view DisplayName(LineEndingKind kind) {
  switch (kind) {
    case LineEndingKind::MsDos: return "MS-DOS";
    case LineEndingKind::Unix: return "UNIX";
    case LineEndingKind::Mac: return "MAC";
    case LineEndingKind::Binary: return "BINARY";
    case LineEndingKind::None: break;
  }
  return {};
}

}  // namespace tarnwhistle
