// Approved jobs in-process against the simulated board: which jobs a station
// runs and which it refuses, each refusal before any erase with its own exit
// status, and what the record says of the job. The signatures were made by the
// openssl command, so under Wine this is the BCrypt side checking them.

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "job/job_file.h"
#include "job/job_key.h"
#include "run/sha256.h"
#include "tests/cli/cli_test_support.h"
#include "tests/cli/job_fixtures.h"

namespace {

using namespace clitest;
using nlohmann::json;

std::string Sha256Of(const std::string& bytes) {
  return Sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(Job, EachJobIsRunOrRefusedBeforeAnyErase) {
  std::string changedJob = jobfix::kJob;
  changedJob.replace(changedJob.find("\"C\""), 3, "\"D\"");  // another revision
  std::string changedFirmware = jobfix::kFirmware;
  changedFirmware.replace(changedFirmware.find("030A"), 4, "040A");
  changedFirmware.replace(changedFirmware.find("72\n"), 2, "71");  // its checksum kept right
  std::string newer = jobfix::kJob;
  newer.replace(newer.find("\"job_version\": 1"), 16, "\"job_version\": 2");
  struct Case {
    const char* name;
    std::string job;
    std::string signature;  // hex; empty: no JOB.sig
    bool trust;             // --trusted-key pub.pem
    std::string firmware;
    std::vector<std::string> extra;
    int status;
    const char* signer;  // the record's signer when run; nullptr: unsigned
    const char* says;    // in the refusal's words
  } cases[] = {
      {"signed and trusted", jobfix::kJob, jobfix::kJobSignature, true, jobfix::kFirmware, {}, 0,
       jobfix::kFingerprint, ""},
      {"firmware byte changed", jobfix::kJob, jobfix::kJobSignature, true, changedFirmware, {},
       exit_code::kJobFirmwareDiffers, nullptr, "is not the job's"},
      {"job byte changed", changedJob, jobfix::kJobSignature, true, jobfix::kFirmware, {}, exit_code::kJobNotTrusted,
       nullptr, "does not verify with any key"},
      {"signed by a key not trusted", jobfix::kJob, jobfix::kJobSignatureByAnother, true, jobfix::kFirmware, {},
       exit_code::kJobNotTrusted, nullptr, "does not verify with any key"},
      {"unsigned, keys trusted", jobfix::kJob, "", true, jobfix::kFirmware, {}, exit_code::kJobNotTrusted, nullptr,
       "is not signed"},
      {"unsigned, no keys trusted", jobfix::kJob, "", false, jobfix::kFirmware, {}, 0, nullptr, ""},
      {"expired", jobfix::kExpiredJob, jobfix::kExpiredSignature, true, jobfix::kFirmware, {},
       exit_code::kJobOutOfDate, nullptr, "expired"},
      {"newer job_version", newer, "", false, jobfix::kFirmware, {}, exit_code::kJobOutOfDate, nullptr,
       "newer than this tool's"},
      {"an option the job fixes", jobfix::kJob, jobfix::kJobSignature, true, jobfix::kFirmware, {"--rev", "D"},
       exit_code::kUsage, nullptr, "--rev cannot be given with --job"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFiles files("job");
    const std::string job = jobfix::WriteJob(files, c.job, c.signature, c.firmware);
    SimBoard sim;
    START_SIM(sim, UdpBoard());
    std::vector<std::string> args = {"--board", "127.0.0.1", "program", "--job", job, "--json"};
    if (c.trust) args.insert(args.end(), {"--trusted-key", files.Path("pub.pem")});
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const Outcome o = Cli(args);
    EXPECT_EQ(o.status, c.status) << o.out << o.err;
    EXPECT_EQ(AnyCommand(sim, 'e'), c.status == 0) << "nothing is erased before the job was accepted";
    const json r = o.Json();
    if (c.status == 0) {
      ASSERT_FALSE(r.is_discarded()) << o.out;
      EXPECT_EQ(r["written"]["revision"], "C") << "the job's revision, not the board's";
      EXPECT_EQ(r["verify"], "frames");
      EXPECT_EQ(r["job"]["name"], jobfix::kJobName);
      EXPECT_EQ(r["job"]["sha256"], Sha256Of(c.job));
      EXPECT_EQ(r["job"]["signer"], c.signer ? json(c.signer) : json(nullptr));
    } else {
      EXPECT_NE((o.out + o.err).find(c.says), std::string::npos) << o.out << o.err;
    }
  }
}

TEST(Job, ShowAndCreateSayWhatAStationWould) {
  TempFiles files("job_show");
  const std::string job = jobfix::WriteJob(files, jobfix::kJob, jobfix::kJobSignature);
  Outcome o = Cli({"--json", "job", "show", job, "--trusted-key", files.Path("pub.pem")});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.Json()["signer"], jobfix::kFingerprint);
  EXPECT_EQ(o.Json()["firmware_matches"], "yes");

  // A job written from the same settings reads back as the one signed.
  const std::string made = files.Path("made.json");
  o = Cli({"job", "create", files.Path("fw.s19"), "--out", made, "--name", jobfix::kJobName, "--rev", "C",
           "--serial-from", "SN0001", "--expect-hardware", "VR32", "--valid-until", "2099-12-31"});
  ASSERT_EQ(o.status, 0) << o.err;
  Job written;
  Job signedJob;
  ASSERT_EQ(ParseJob(TempFiles::Read(made), written).status, JobParse::kOk);
  ASSERT_EQ(ParseJob(jobfix::kJob, signedJob).status, JobParse::kOk);
  EXPECT_EQ(JobText(written), JobText(signedJob));
  // The firmware must lie beside the job, or the job would name another file.
  o = Cli({"job", "create", files.Path("fw.s19"), "--out", files.Path("sub/made.json"), "--name", "x", "--rev", "C",
           "--serial-from", "SN0001", "--expect-hardware", "VR32"});
  EXPECT_EQ(o.status, exit_code::kUsage);
}

// The DER signature as BCrypt takes it, raw r and s of 32 bytes each: where
// Windows alone would go wrong, so it is pinned on every system.
TEST(Job, DerSignaturesBecomeRawOnlyWhenWellFormed) {
  std::string r32;
  for (int i = 0; i < 32; ++i) r32 += "5a";
  const std::string s32 = "7" + std::string(63, 'b');
  struct Case {
    const char* name;
    std::string der;
    bool ok;
    std::string raw;  // hex, when ok
  } cases[] = {
      {"32-byte r and s", "3044" "0220" + r32 + "0220" + s32, true, r32 + s32},
      {"a sign byte dropped", "3045" "022100" "8" + r32.substr(1) + "0220" + s32, true, "8" + r32.substr(1) + s32},
      {"a short r padded", "3043" "021f" + r32.substr(2) + "0220" + s32, true, "00" + r32.substr(2) + s32},
      {"a zero the sign did not need", "3045" "022100" + r32 + "0220" + s32, false, ""},
      {"a negative r", "3044" "0220" "8" + r32.substr(1) + "0220" + s32, false, ""},
      {"a byte after the sequence", "3044" "0220" + r32 + "0220" + s32 + "00", false, ""},
      {"the sequence's length wrong", "3045" "0220" + r32 + "0220" + s32, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = jobfix::Bytes(c.der);
    std::array<std::uint8_t, 64> raw{};
    EXPECT_EQ(DerSignatureToRaw(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), raw), c.ok);
    if (c.ok) {
      EXPECT_EQ(jobfix::Bytes(c.raw), std::string(raw.begin(), raw.end()));
    }
  }
}

#ifndef _WIN32
// The standard tool and this one take each other's signatures: openssl signs
// and the tool runs the job; the tool signs and openssl verifies.
TEST(Job, SignaturesPassBetweenOpensslAndTheTool) {
  TempFiles files("job_openssl");
  const std::string job = jobfix::WriteJob(files, jobfix::kJob, "");
  const std::string key = files.Path("key.pem");
  const std::string pub = files.Path("new.pem");
  const auto sh = [](const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); };
  ASSERT_EQ(sh("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out '" + key + "'"), 0);
  ASSERT_EQ(sh("openssl pkey -in '" + key + "' -pubout -out '" + pub + "'"), 0);

  ASSERT_EQ(sh("openssl dgst -sha256 -sign '" + key + "' -out '" + job + ".sig' '" + job + "'"), 0);
  Outcome o = Cli({"job", "show", job, "--trusted-key", pub});
  EXPECT_EQ(o.status, 0) << o.out << o.err;

  std::remove((job + ".sig").c_str());
  o = Cli({"job", "sign", job, "--key", key});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(sh("openssl dgst -sha256 -verify '" + pub + "' -signature '" + job + ".sig' '" + job + "'"), 0);
  // The fingerprint the tool gives is openssl's DER of the key, hashed.
  const std::string der = files.Path("pub.der");
  ASSERT_EQ(sh("openssl pkey -pubin -in '" + pub + "' -outform DER -out '" + der + "'"), 0);
  EXPECT_NE(o.out.find(Sha256Of(TempFiles::Read(der))), std::string::npos) << o.out;
}
#endif

}  // namespace
