#include "run/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <climits>

namespace {

constexpr ULONG kDigestBytes = 32;

// The provider is opened by name rather than through the fixed
// BCRYPT_SHA256_ALG_HANDLE, which needs Windows 10 (and mingw-w64 10 lacks it).
struct Provider {
  BCRYPT_ALG_HANDLE handle = nullptr;
  Provider() {
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
      handle = nullptr;
    }
  }
  ~Provider() {
    if (handle) ::BCryptCloseAlgorithmProvider(handle, 0);
  }
};

struct Hash {
  BCRYPT_HASH_HANDLE handle = nullptr;
  explicit Hash(BCRYPT_ALG_HANDLE provider) {
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(provider, &handle, nullptr, 0, nullptr, 0, 0))) handle = nullptr;
  }
  ~Hash() {
    if (handle) ::BCryptDestroyHash(handle);
  }
};

}  // namespace

std::string Sha256Hex(const std::uint8_t* data, std::size_t size) {
  Provider provider;
  if (!provider.handle) return "";
  Hash hash(provider.handle);
  if (!hash.handle) return "";
  // BCrypt takes at most a ULONG's worth of bytes at a time.
  for (std::size_t done = 0; done < size;) {
    const ULONG piece = static_cast<ULONG>(std::min<std::size_t>(size - done, ULONG_MAX));
    if (!BCRYPT_SUCCESS(::BCryptHashData(hash.handle, const_cast<PUCHAR>(data + done), piece, 0))) return "";
    done += piece;
  }
  UCHAR digest[kDigestBytes];
  if (!BCRYPT_SUCCESS(::BCryptFinishHash(hash.handle, digest, kDigestBytes, 0))) return "";
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (UCHAR byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
  }
  return hex;
}
