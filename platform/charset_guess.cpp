#include "charset_guess.h"

#include <uchardet/uchardet.h>

#include <memory>
#include <string>

namespace tarnwhistle::platform {

std::string_view GuessCharset(std::span<const std::uint8_t> sample) {
  const std::unique_ptr<std::remove_pointer_t<uchardet_t>, void (*)(uchardet_t)> detector(uchardet_new(),
                                                                                          uchardet_delete);
  if (!detector) return {};
  if (uchardet_handle_data(detector.get(), reinterpret_cast<const char*>(sample.data()), sample.size()) != 0) {
    return {};
  }
  uchardet_data_end(detector.get());
  // uchardet names more encodings, and in capitals; these are the ones Japanese text
  // comes in, under the names their registrations give them.
  const std::string found = uchardet_get_charset(detector.get());
  for (std::string_view name : {"ASCII", "UTF-8", "Shift_JIS", "EUC-JP", "ISO-2022-JP"}) {
    if (found.size() == name.size() &&
        std::equal(found.begin(), found.end(), name.begin(),
                   [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) ==
                                               std::toupper(static_cast<unsigned char>(b)); })) {
      return name;
    }
  }
  return {};
}

}  // namespace tarnwhistle::platform
