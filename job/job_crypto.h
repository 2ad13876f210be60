#pragma once

// ECDSA P-256 with SHA-256 over a job's exact bytes, from the system's own
// library: OpenSSL's libcrypto on Linux (job_crypto_openssl.cpp), BCrypt on
// Windows (job_crypto_bcrypt.cpp). Signatures are DER, as `openssl dgst
// -sha256 -sign` writes them.

#include <cstdint>
#include <string>
#include <vector>

#include "job/job_key.h"

enum class SignatureCheck {
  kValid,
  kInvalid,    // well formed, but not by this key over these bytes
  kMalformed,  // not a DER ECDSA signature at all
  kFailed,     // the system's library failed
};

SignatureCheck VerifySignature(const PublicKey& key, const std::string& message,
                               const std::vector<std::uint8_t>& signature);

enum class SignStatus {
  kSigned,
  kNoPrivateKey,  // no private key in the PEM text (or one locked by a pass phrase)
  kNotP256,       // a private key, but not a P-256 one
  kUnsupported,   // this system's build does not sign (Windows: sign with openssl)
  kFailed,        // the system's library failed
};

// Signs with a PEM private key (as `openssl genpkey` writes one); `signer` is
// its public key.
SignStatus SignMessage(const std::string& privateKeyPem, const std::string& message,
                       std::vector<std::uint8_t>& signature, PublicKey& signer);
