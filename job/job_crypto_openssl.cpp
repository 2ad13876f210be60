#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

#include "job/job_crypto.h"

namespace {

struct KeyFreer {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct ContextFreer {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct BioFreer {
  void operator()(BIO* b) const { BIO_free(b); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFreer>;
using Context = std::unique_ptr<EVP_MD_CTX, ContextFreer>;

// A locked key is refused rather than asked about: a station has no one to type
// a pass phrase, and OpenSSL would otherwise prompt on the terminal.
int NoPassPhrase(char*, int, int, void*) { return -1; }

bool IsP256(EVP_PKEY* key) {
  char group[64] = {};
  std::size_t length = 0;
  return EVP_PKEY_get_base_id(key) == EVP_PKEY_EC &&
         EVP_PKEY_get_group_name(key, group, sizeof group, &length) == 1 && std::string(group) == "prime256v1";
}

}  // namespace

SignatureCheck VerifySignature(const PublicKey& publicKey, const std::string& message,
                               const std::vector<std::uint8_t>& signature) {
  std::array<std::uint8_t, 64> raw{};
  // Checked as strictly as BCrypt's side does, so both systems take the same files.
  if (!DerSignatureToRaw(signature, raw)) return SignatureCheck::kMalformed;
  const unsigned char* der = publicKey.spki.data();
  Key key(d2i_PUBKEY(nullptr, &der, static_cast<long>(publicKey.spki.size())));
  Context context(EVP_MD_CTX_new());
  if (!key || !context || EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
    return SignatureCheck::kFailed;
  }
  const int verified = EVP_DigestVerify(context.get(), signature.data(), signature.size(),
                                        reinterpret_cast<const unsigned char*>(message.data()), message.size());
  return verified == 1 ? SignatureCheck::kValid : SignatureCheck::kInvalid;
}

SignStatus SignMessage(const std::string& privateKeyPem, const std::string& message,
                       std::vector<std::uint8_t>& signature, PublicKey& signer) {
  std::unique_ptr<BIO, BioFreer> pem(BIO_new_mem_buf(privateKeyPem.data(), static_cast<int>(privateKeyPem.size())));
  if (!pem) return SignStatus::kFailed;
  Key key(PEM_read_bio_PrivateKey(pem.get(), nullptr, NoPassPhrase, nullptr));
  if (!key) return SignStatus::kNoPrivateKey;
  if (!IsP256(key.get())) return SignStatus::kNotP256;
  unsigned char* spki = nullptr;
  const int spkiLength = i2d_PUBKEY(key.get(), &spki);
  if (spkiLength <= 0) return SignStatus::kFailed;
  const std::vector<std::uint8_t> spkiBytes(spki, spki + spkiLength);
  OPENSSL_free(spki);
  if (PublicKeyFromSpki(spkiBytes, signer) != KeyRead::kOk) return SignStatus::kNotP256;

  Context context(EVP_MD_CTX_new());
  std::size_t length = 0;
  const auto* data = reinterpret_cast<const unsigned char*>(message.data());
  if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &length, data, message.size()) != 1) {
    return SignStatus::kFailed;
  }
  signature.assign(length, 0);
  if (EVP_DigestSign(context.get(), signature.data(), &length, data, message.size()) != 1) return SignStatus::kFailed;
  signature.resize(length);
  return SignStatus::kSigned;
}
