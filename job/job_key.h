#pragma once

// Keys and signatures as the standard tools write them: a P-256 public key in
// a PEM file ("-----BEGIN PUBLIC KEY-----", its SubjectPublicKeyInfo in DER)
// and an ECDSA signature as DER (a SEQUENCE of the two INTEGERs r and s). The
// layouts are read here, the same on every system; the arithmetic is the
// system's library (job_crypto.h).

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace key_const {
constexpr std::size_t kCoordinateBytes = 32;  // P-256: x, y, r and s
constexpr std::size_t kSpkiBytes = 91;        // SubjectPublicKeyInfo of an uncompressed P-256 point
constexpr std::size_t kMaxKeyFileBytes = 16u << 10;
constexpr std::size_t kMaxSignatureBytes = 72;  // DER of two 33-byte INTEGERs
}  // namespace key_const

struct PublicKey {
  std::vector<std::uint8_t> spki;  // the DER of the SubjectPublicKeyInfo, 91 bytes
  std::string fingerprint;         // SHA-256 of spki in hex: how a key is named
  // The point, as raw APIs take it.
  std::array<std::uint8_t, key_const::kCoordinateBytes> x{};
  std::array<std::uint8_t, key_const::kCoordinateBytes> y{};
};

enum class KeyRead {
  kOk,
  kNoPublicKey,  // no "PUBLIC KEY" PEM block, or its base64 is broken
  kNotP256,      // a public key, but not an uncompressed P-256 one
};

// The first PUBLIC KEY block of a PEM text.
KeyRead ParsePublicKeyPem(const std::string& pem, PublicKey& key);
// A key from the DER of its SubjectPublicKeyInfo (as OpenSSL writes one out of
// a private key).
KeyRead PublicKeyFromSpki(const std::vector<std::uint8_t>& spki, PublicKey& key);
// The key as a PEM text, for job sign to say which key signed.
std::string PublicKeyPem(const PublicKey& key);

// r then s, 32 bytes each, from a DER signature; false when it is not exactly
// one well-formed SEQUENCE of two INTEGERs of at most 32 significant bytes.
bool DerSignatureToRaw(const std::vector<std::uint8_t>& der, std::array<std::uint8_t, 64>& raw);
