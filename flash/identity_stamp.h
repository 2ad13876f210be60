#pragma once

// The operator's revision and serial number written over the identity record's
// place in the image, after the file is loaded: whatever the file put there is
// replaced, the hardware code too when the serial number is long.

#include <string_view>

#include "flash/flash_image.h"
#include "link/frames.h"

// Bytes; a shorter serial number is followed by a NUL, one of this length fills
// the record to its end (0x42F) and has none.
constexpr int kSerialStampMax = identity::kSerialMax;

// Writes the revision's first byte (0 when it is empty) and the serial number
// (at most kSerialStampMax bytes, then a NUL while there is room). Nothing
// outside 0x420..0x42F changes.
void StampIdentity(FlashImage& image, std::string_view serialNumber, std::string_view revision);
