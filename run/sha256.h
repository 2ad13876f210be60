#pragma once

// SHA-256 of bytes in memory, from the system's own library: OpenSSL's libcrypto
// on Linux, BCrypt on Windows.

#include <cstddef>
#include <cstdint>
#include <string>

// 64 lower-case hex digits, or empty when the library fails.
std::string Sha256Hex(const std::uint8_t* data, std::size_t size);
