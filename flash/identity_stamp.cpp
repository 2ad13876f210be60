#include "flash/identity_stamp.h"

#include <algorithm>
#include <cstddef>

void StampIdentity(FlashImage& image, std::string_view serialNumber, std::string_view revision) {
  image[identity::kFlashOffset + identity::kRevisionAt] =
      revision.empty() ? 0 : static_cast<std::uint8_t>(revision.front());
  // A serial number ends at its first NUL, as a C string would.
  const std::string_view serial = serialNumber.substr(0, std::min(serialNumber.find('\0'), serialNumber.size()));
  const std::size_t length = std::min<std::size_t>(serial.size(), kSerialStampMax);
  std::uint8_t* at = &image[identity::kFlashOffset + identity::kSerialAt];
  std::copy_n(serial.begin(), length, at);
  if (length < static_cast<std::size_t>(kSerialStampMax)) at[length] = 0;
}
