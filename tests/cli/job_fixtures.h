#pragma once

// A job, its firmware and signatures made with the openssl command (dgst
// -sha256 -sign) once, kept as bytes: the same files run on Linux and under
// Wine, where nothing signs, so the Windows build is held to what openssl wrote.

#include <cstdint>
#include <string>

#include "tests/support/board_runs.h"

namespace jobfix {

// Two S3 records of 16 bytes from 0x0, and the end.
constexpr const char kFirmware[] =
    "S31500000000030A11181F262D343B424950575E656C72\n"
    "S3150000001001060B10151A1F24292E33383D42474C72\n"
    "S70500000000FA\n";

constexpr const char kJobName[] = "VR32 test 1.0";
// Valid until 2099; the firmware's SHA-256 is kFirmware's.
constexpr const char kJob[] =
    R"({"job_version": 1, "name": "VR32 test 1.0", "firmware": {"file": "fw.s19", "sha256": )"
    R"("43a9115532333f08c7e971eb2a4eaa7a6561b313c8ccd425edcaea5c5bf6cd6c"}, "revision": "C", )"
    R"("serial_from": "SN0001", "verify": "frames", "expect_hardware": "VR32", "valid_until": "2099-12-31"})"
    "\n";
// kJob valid until 2020-01-01.
constexpr const char kExpiredJob[] =
    R"({"job_version": 1, "name": "VR32 test 1.0", "firmware": {"file": "fw.s19", "sha256": )"
    R"("43a9115532333f08c7e971eb2a4eaa7a6561b313c8ccd425edcaea5c5bf6cd6c"}, "revision": "C", )"
    R"("serial_from": "SN0001", "verify": "frames", "expect_hardware": "VR32", "valid_until": "2020-01-01"})"
    "\n";

constexpr const char kPublicKey[] =
    "-----BEGIN PUBLIC KEY-----\n"
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEWBp/QotR6Kai247KzXXeyohVdNJL\n"
    "1Fzu4TIE/kqnzqHH4i9w96uTs22MYBAidV/Z7wPF1sGEVaAIsv3mA/tCIw==\n"
    "-----END PUBLIC KEY-----\n";
// SHA-256 of the key's DER, as openssl pkey -pubin -outform DER | sha256sum gives it.
constexpr const char kFingerprint[] = "96b821f4d6c624fcc8460f140ee297a1aa8c1a7505f89a1c29df4750c0c48018";

// DER signatures over kJob by kPublicKey's private key (r and s of 32 bytes),
// over kJob by another key, and over kExpiredJob by kPublicKey's (s of 33
// bytes: the leading zero BCrypt's raw form drops).
constexpr const char kJobSignature[] =
    "304402201fbff5338fa1f89f2a9975b02aa1fad9b4cb15249ca0e830863d3a21888f058402202a7e46c1322ff9d1283370c72b7fc5"
    "248f9168767ba8df3e2a0c110101e9102f";
constexpr const char kJobSignatureByAnother[] =
    "304502203c03791abed3f2e4486cf54e8076cd7ce10caf20eb053c1af037285514f95c9e0221009ad657d8ea1ea7f15f16f317cc01"
    "bc084a0429f9e97dbc0379495be4f15c6ffe";
constexpr const char kExpiredSignature[] =
    "304502203c88e9f4557bb98099146480d30a77affaed1e7bc0905e92fb8da51e92529648022100f8cee86de8c6875291519c0b1fc3"
    "ab99056bc8176bd4fce9ca16f6ef5a042e0d";

inline std::string Bytes(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

// The job, its firmware and public key in one folder: the job's path. An empty
// signature writes no JOB.sig.
inline std::string WriteJob(const TempFiles& files, const std::string& job, const std::string& signatureHex,
                            const std::string& firmware = kFirmware) {
  files.Write("fw.s19", firmware);
  files.Write("pub.pem", kPublicKey);
  if (!signatureHex.empty()) files.Write("job.json.sig", Bytes(signatureHex));
  return files.Write("job.json", job);
}

}  // namespace jobfix
