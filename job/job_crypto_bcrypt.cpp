#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "job/job_crypto.h"
#include "run/sha256.h"

namespace {

// Opened by name, as run/sha256_bcrypt.cpp does: the fixed algorithm handles
// need Windows 10, and Wine's bcrypt knows the names.
struct Provider {
  BCRYPT_ALG_HANDLE handle = nullptr;
  Provider() {
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&handle, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
      handle = nullptr;
    }
  }
  ~Provider() {
    if (handle) ::BCryptCloseAlgorithmProvider(handle, 0);
  }
};

struct KeyHandle {
  BCRYPT_KEY_HANDLE handle = nullptr;
  ~KeyHandle() {
    if (handle) ::BCryptDestroyKey(handle);
  }
};

int HexValue(char c) { return c <= '9' ? c - '0' : c - 'a' + 10; }

}  // namespace

// BCrypt takes the point as a raw public blob (the magic, the size, x, y) and
// the signature as raw r and s, where the standard tools write DER: both are
// read out of their fixed layouts in job_key.cpp, which needs none of
// CryptoAPI's decoders (nor whether Wine has them).
SignatureCheck VerifySignature(const PublicKey& key, const std::string& message,
                               const std::vector<std::uint8_t>& signature) {
  std::array<std::uint8_t, 64> raw{};
  if (!DerSignatureToRaw(signature, raw)) return SignatureCheck::kMalformed;
  Provider provider;
  if (!provider.handle) return SignatureCheck::kFailed;

  constexpr ULONG kCoordinate = static_cast<ULONG>(key_const::kCoordinateBytes);
  std::uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + 2 * key_const::kCoordinateBytes];
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinate};
  std::memcpy(blob, &header, sizeof header);
  std::memcpy(blob + sizeof header, key.x.data(), kCoordinate);
  std::memcpy(blob + sizeof header + kCoordinate, key.y.data(), kCoordinate);
  KeyHandle imported;
  if (!BCRYPT_SUCCESS(::BCryptImportKeyPair(provider.handle, nullptr, BCRYPT_ECCPUBLIC_BLOB, &imported.handle, blob,
                                            sizeof blob, 0))) {
    imported.handle = nullptr;
    return SignatureCheck::kFailed;
  }
  const std::string hex = Sha256Hex(reinterpret_cast<const std::uint8_t*>(message.data()), message.size());
  if (hex.size() != 64) return SignatureCheck::kFailed;
  UCHAR digest[32];
  for (std::size_t i = 0; i < sizeof digest; ++i) {
    digest[i] = static_cast<UCHAR>(HexValue(hex[2 * i]) << 4 | HexValue(hex[2 * i + 1]));
  }
  const NTSTATUS status = ::BCryptVerifySignature(imported.handle, nullptr, digest, sizeof digest, raw.data(),
                                                  static_cast<ULONG>(raw.size()), 0);
  return BCRYPT_SUCCESS(status) ? SignatureCheck::kValid : SignatureCheck::kInvalid;
}

// Signing stays with the engineer's openssl (docs/jobs.md): a station verifies.
SignStatus SignMessage(const std::string&, const std::string&, std::vector<std::uint8_t>&, PublicKey&) {
  return SignStatus::kUnsupported;
}
