#include <openssl/evp.h>

#include <memory>

#include "run/sha256.h"

namespace {
struct DigestFreer {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
constexpr char kHexDigits[] = "0123456789abcdef";
}  // namespace

std::string Sha256Hex(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<EVP_MD_CTX, DigestFreer> context(EVP_MD_CTX_new());
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1 ||
      EVP_DigestUpdate(context.get(), data, size) != 1 ||
      EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
    return "";
  }
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHexDigits[digest[i] >> 4];
    hex += kHexDigits[digest[i] & 0xF];
  }
  return hex;
}
