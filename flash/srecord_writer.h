#pragma once

// Bytes of the flash as S-record text, for a dump that the loader (and so a
// programming run) reads back as the same image.

#include <cstdint>
#include <string>
#include <string_view>

namespace srecord_out {
constexpr std::uint32_t kRecordBytes = 32;  // data bytes per S3 record, on 32-byte boundaries
}

// An S0 record carrying `header`, S3 records for the bytes from flash address
// `start` (`length` of them), and an S7 end; lines end with "\n". Erased bytes
// (0xFF) are left out: a record holds its 32-byte slot's bytes from the first
// to the last that is not 0xFF, and a slot of nothing but 0xFF has no record.
// A loaded file is 0xFF wherever no record writes, so the image comes back the
// same. A range of nothing but 0xFF still gets one record, since a file with no
// S3 record is refused.
std::string SRecordDump(const std::uint8_t* bytes, std::uint32_t start, std::uint32_t length,
                        std::string_view header);
