// tovrin-cli with the station database, in-process against the simulated
// board: a number whose run failed before the frame carrying the identity
// record was sent goes back to the pool, one whose run failed after stays with
// its board, and db find and db report show what happened, on SQLite and on
// PostgreSQL alike.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "os/stop.h"
#include "run/sha256.h"
#include "tests/cli/cli_test_support.h"
#include "tests/cli/job_fixtures.h"
#include "tests/support/scratch_database.h"

namespace {

using namespace clitest;
using nlohmann::json;

class BatchDb : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "SQLite") {
      target_ = files_.Path("station.db");
    } else {
      pg_ = std::make_unique<ScratchDatabase>();
      if (pg_->Url().empty()) GTEST_SKIP() << pg_->Error();
      target_ = pg_->Url();
    }
  }
  TempFiles files_{"batch_db"};
  std::string target_;
  std::unique_ptr<ScratchDatabase> pg_;
};

TEST_P(BatchDb, ANumberComesBackOnlyFromARunThatNeverSentTheStampFrame) {
  const std::string file = files_.Write("image.s19", S19({{0x4000, Pattern(128, 3)}}));
  const std::string log = files_.Path("line.log");
  struct Board {
    const char* what;
    bool eraseNak;
    int nakFrame;  // frames: 0x420 (the stamp), 0x4000, 0x4040
    int status;
    const char* serial;  // on the board afterwards
  } boards[] = {
      {"erase refused", true, 0, 3, "F1"},
      {"second frame refused", false, 2, 4, "SN0001"},
      {"good", false, 0, 0, "SN0002"},
  };
  for (const Board& board : boards) {
    SCOPED_TRACE(board.what);
    SimOptions options = UdpBoard();
    options.serial = "F1";
    options.faults.eraseNak = board.eraseNak;
    options.faults.nakAtProgramFrame = board.nakFrame;
    SimBoard sim;
    START_SIM(sim, options);
    ClearInterrupt();
    const Outcome o = Cli({"--board", "127.0.0.1", "--json", "batch", file, "--serial-from", "SN0001", "--db", target_,
                           "--log", log, "--count", "1", "--wait-seconds", "5", "--operator", "ana"});
    EXPECT_EQ(o.status, board.status) << o.out << o.err;
    EXPECT_EQ(SerialOnBoard(sim.Flash()), board.serial);
  }

  Outcome o = Cli({"--json", "db", "find", "SN0001", "--db", target_});
  ASSERT_EQ(o.status, 0) << o.err;
  json found = o.Json();
  ASSERT_EQ(found["allocations"].size(), 2u) << o.out;
  EXPECT_EQ(found["allocations"][0]["state"], "returned");
  EXPECT_EQ(found["allocations"][0]["operator"], "ana");
  EXPECT_EQ(found["allocations"][0]["identity_before"].get<std::string>().substr(0, 6), "42" "46" "31");  // B F 1
  EXPECT_EQ(found["allocations"][1]["state"], "failed");
  ASSERT_EQ(found["runs"].size(), 2u);
  EXPECT_EQ(found["runs"][0]["record"]["message"], "Abort Erase Flash");
  EXPECT_EQ(found["runs"][1]["record"]["message"], "Abort Program Flash");

  o = Cli({"--json", "db", "report", "--result", "programmed", "--db", target_});
  ASSERT_EQ(o.status, 0) << o.err;
  ASSERT_EQ(o.Json()["runs"].size(), 1u) << o.out;
  EXPECT_EQ(o.Json()["runs"][0]["serial"], "SN0002");
  o = Cli({"db", "pending", "--db", target_});
  EXPECT_EQ(o.out, "0 pending\n");
}

// A batch run from a signed job: the number's allocation and the run name the
// job and its signer, and db report finds the run by the job's name.
TEST_P(BatchDb, AJobsRunIsRecordedWithItsJobAndSigner) {
  const std::string job = jobfix::WriteJob(files_, jobfix::kJob, jobfix::kJobSignature);
  SimBoard sim;
  START_SIM(sim, UdpBoard());
  ClearInterrupt();
  Outcome o = Cli({"--board", "127.0.0.1", "--json", "batch", "--job", job, "--trusted-key", files_.Path("pub.pem"),
                   "--db", target_, "--log", files_.Path("line.log"), "--count", "1", "--wait-seconds", "5"});
  ASSERT_EQ(o.status, 0) << o.out << o.err;
  EXPECT_EQ(SerialOnBoard(sim.Flash()), "SN0001");

  const json expected = {{"name", jobfix::kJobName},
                         {"sha256", Sha256Hex(reinterpret_cast<const std::uint8_t*>(jobfix::kJob), std::strlen(jobfix::kJob))},
                         {"signer", jobfix::kFingerprint}};
  EXPECT_EQ(JsonLines(files_.Path("line.log"))[0]["job"], expected);
  o = Cli({"--json", "db", "find", "SN0001", "--db", target_});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.Json()["allocations"][0]["job"], expected) << o.out;
  o = Cli({"--json", "db", "report", "--job", jobfix::kJobName, "--db", target_});
  ASSERT_EQ(o.Json()["runs"].size(), 1u) << o.out;
  EXPECT_EQ(o.Json()["runs"][0]["job"], expected);
  o = Cli({"--json", "db", "report", "--job", "another job", "--db", target_});
  EXPECT_EQ(o.Json()["runs"].size(), 0u) << o.out;
}

INSTANTIATE_TEST_SUITE_P(Engines, BatchDb, testing::Values("SQLite", "PostgreSQL"),
                         [](const testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
