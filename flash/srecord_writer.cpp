#include "flash/srecord_writer.h"

#include <algorithm>

#include "flash/flash_image.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::uint32_t kAddressBytes32 = 4;  // S3 and S7
constexpr std::uint32_t kAddressBytes16 = 2;  // S0
constexpr std::uint32_t kChecksumBytes = 1;

// One record: type, count, address of `addressBytes` bytes, data, and the
// ones' complement of the low byte of the sum of count, address and data.
void AppendRecord(std::string& text, char type, std::uint32_t address, std::uint32_t addressBytes,
                  const std::uint8_t* data, std::uint32_t length) {
  unsigned sum = 0;
  const auto hex = [&](std::uint8_t byte) {
    sum += byte;
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 0xF];
  };
  text += 'S';
  text += type;
  hex(static_cast<std::uint8_t>(addressBytes + length + kChecksumBytes));
  for (std::uint32_t i = addressBytes; i-- > 0;) hex(static_cast<std::uint8_t>(address >> (8 * i)));
  for (std::uint32_t i = 0; i < length; ++i) hex(data[i]);
  hex(static_cast<std::uint8_t>(~sum));
  text += '\n';
}

}  // namespace

std::string SRecordDump(const std::uint8_t* bytes, std::uint32_t start, std::uint32_t length,
                        std::string_view header) {
  using srecord_out::kRecordBytes;
  std::string text;
  AppendRecord(text, '0', 0, kAddressBytes16, reinterpret_cast<const std::uint8_t*>(header.data()),
               static_cast<std::uint32_t>(header.size()));
  const auto erased = [](std::uint8_t b) { return b == kErasedByte; };
  bool any = false;
  const std::uint32_t end = start + length;
  for (std::uint32_t slot = start; slot < end;) {
    const std::uint32_t slotEnd = std::min(end, (slot / kRecordBytes + 1) * kRecordBytes);
    const std::uint8_t* from = bytes + (slot - start);
    const std::uint8_t* to = bytes + (slotEnd - start);
    const std::uint8_t* first = std::find_if_not(from, to, erased);
    if (first != to) {
      const std::uint8_t* last = std::find_if_not(std::make_reverse_iterator(to), std::make_reverse_iterator(first),
                                                  erased).base();
      AppendRecord(text, '3', start + static_cast<std::uint32_t>(first - bytes), kAddressBytes32, first,
                   static_cast<std::uint32_t>(last - first));
      any = true;
    }
    slot = slotEnd;
  }
  if (!any && length > 0) AppendRecord(text, '3', start, kAddressBytes32, bytes, std::min(length, kRecordBytes));
  AppendRecord(text, '7', 0, kAddressBytes32, nullptr, 0);
  return text;
}
