#include "job/job_key.h"

#include <algorithm>
#include <cstring>

#include "run/sha256.h"

namespace {

// SEQUENCE { SEQUENCE { OID ecPublicKey, OID prime256v1 }, BIT STRING (0 unused
// bits) 0x04 X Y }: every uncompressed P-256 key starts with these 27 bytes.
constexpr std::uint8_t kSpkiPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d,
                                        0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01,
                                        0x07, 0x03, 0x42, 0x00, 0x04};
static_assert(sizeof kSpkiPrefix + 2 * key_const::kCoordinateBytes == key_const::kSpkiBytes);
// The ecPublicKey OID's DER, by which another curve's key is told from no key.
constexpr std::uint8_t kEcPublicKeyOid[] = {0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01};

constexpr char kPemBegin[] = "-----BEGIN PUBLIC KEY-----";
constexpr char kPemEnd[] = "-----END PUBLIC KEY-----";
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kPemLineChars = 64;

int Base64Value(char c) {
  const char* at = std::strchr(kBase64, c);
  return c != '\0' && at != nullptr ? static_cast<int>(at - kBase64) : -1;
}

// Base64 with whitespace between, '=' only at the end.
bool DecodeBase64(const std::string& text, std::vector<std::uint8_t>& bytes) {
  unsigned bits = 0;
  int held = 0;
  int padding = 0;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const int value = Base64Value(c);
    if (value < 0 || padding > 0) return false;
    bits = (bits << 6) | static_cast<unsigned>(value);
    held += 6;
    if (held >= 8) {
      held -= 8;
      bytes.push_back(static_cast<std::uint8_t>(bits >> held));
      bits &= (1u << held) - 1;
    }
  }
  return padding <= 2 && bits == 0;
}

std::string EncodeBase64(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const unsigned chunk = (bytes[i] << 16) | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0) |
                           (i + 2 < bytes.size() ? bytes[i + 2] : 0);
    text += kBase64[(chunk >> 18) & 63];
    text += kBase64[(chunk >> 12) & 63];
    text += i + 1 < bytes.size() ? kBase64[(chunk >> 6) & 63] : '=';
    text += i + 2 < bytes.size() ? kBase64[chunk & 63] : '=';
  }
  return text;
}

// One DER INTEGER at `at`: its value's bytes without the sign's leading zero.
bool ReadInteger(const std::vector<std::uint8_t>& der, std::size_t& at, std::uint8_t* out) {
  if (at + 2 > der.size() || der[at] != 0x02) return false;
  std::size_t length = der[at + 1];
  at += 2;
  if (length == 0 || length > key_const::kCoordinateBytes + 1 || at + length > der.size()) return false;
  const std::uint8_t* value = &der[at];
  at += length;
  if (value[0] & 0x80) return false;  // negative: no signature has one
  if (value[0] == 0 && length > 1) {
    if (!(value[1] & 0x80)) return false;  // a zero the sign did not need: not DER
    ++value;
    --length;
  }
  if (length > key_const::kCoordinateBytes) return false;
  std::memset(out, 0, key_const::kCoordinateBytes);
  std::memcpy(out + key_const::kCoordinateBytes - length, value, length);
  return true;
}

}  // namespace

KeyRead PublicKeyFromSpki(const std::vector<std::uint8_t>& spki, PublicKey& key) {
  if (spki.size() != key_const::kSpkiBytes || !std::equal(std::begin(kSpkiPrefix), std::end(kSpkiPrefix), spki.begin())) {
    return KeyRead::kNotP256;
  }
  key.spki = spki;
  std::copy_n(spki.begin() + sizeof kSpkiPrefix, key_const::kCoordinateBytes, key.x.begin());
  std::copy_n(spki.begin() + sizeof kSpkiPrefix + key_const::kCoordinateBytes, key_const::kCoordinateBytes,
              key.y.begin());
  key.fingerprint = Sha256Hex(spki.data(), spki.size());
  return KeyRead::kOk;
}

KeyRead ParsePublicKeyPem(const std::string& pem, PublicKey& key) {
  const std::size_t begin = pem.find(kPemBegin);
  if (begin == std::string::npos) return KeyRead::kNoPublicKey;
  const std::size_t start = begin + sizeof kPemBegin - 1;
  const std::size_t end = pem.find(kPemEnd, start);
  if (end == std::string::npos) return KeyRead::kNoPublicKey;
  std::vector<std::uint8_t> der;
  if (!DecodeBase64(pem.substr(start, end - start), der)) return KeyRead::kNoPublicKey;
  const auto oid = std::search(der.begin(), der.end(), std::begin(kEcPublicKeyOid), std::end(kEcPublicKeyOid));
  if (der.size() < 2 || der[0] != 0x30) return KeyRead::kNoPublicKey;
  if (oid == der.end()) return KeyRead::kNotP256;
  return PublicKeyFromSpki(der, key);
}

std::string PublicKeyPem(const PublicKey& key) {
  const std::string body = EncodeBase64(key.spki);
  std::string pem = std::string(kPemBegin) + "\n";
  for (std::size_t i = 0; i < body.size(); i += kPemLineChars) pem += body.substr(i, kPemLineChars) + "\n";
  return pem + kPemEnd + "\n";
}

bool DerSignatureToRaw(const std::vector<std::uint8_t>& der, std::array<std::uint8_t, 64>& raw) {
  if (der.size() < 8 || der.size() > key_const::kMaxSignatureBytes || der[0] != 0x30 || der[1] != der.size() - 2) {
    return false;
  }
  std::size_t at = 2;
  return ReadInteger(der, at, raw.data()) && ReadInteger(der, at, raw.data() + key_const::kCoordinateBytes) &&
         at == der.size();
}
