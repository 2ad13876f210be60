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

#include "cli/db_args.h"
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
      ASSERT_EQ(Cli({"db", "init", target_}).status, 0);
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

// program keeps its runs through the line's record code: one that programmed
// its board, with the serial number stamped, and one refused before the erase,
// with none; each names the command, the board's address and the operator.
TEST_P(BatchDb, ProgramKeepsEachRunItMadeOrRefused) {
  const std::string file = files_.Write("image.s19", S19({{0x4000, Pattern(128, 3)}}));
  SimBoard sim;
  START_SIM(sim, UdpBoard());
  ClearInterrupt();
  Outcome o = Cli({"--board", "127.0.0.1", "--json", "program", file, "--serial", "P1", "--db", target_, "--operator",
                   "ana"});
  ASSERT_EQ(o.status, 0) << o.out << o.err;
  o = Cli({"--board", "127.0.0.1", "--json", "program", file, "--expect-hardware", "XX99", "--db", target_});
  EXPECT_EQ(o.status, 12) << o.out << o.err;

  o = Cli({"--json", "db", "report", "--db", target_});
  const json runs = o.Json()["runs"];
  ASSERT_EQ(runs.size(), 2u) << o.out;
  const struct {
    const char* serial;
    const char* result;
  } expected[] = {{"P1", "programmed"}, {nullptr, "refused"}};
  for (std::size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(runs[i]["command"], "program");
    EXPECT_EQ(runs[i]["slot"], "127.0.0.1");
    EXPECT_EQ(runs[i]["serial"], expected[i].serial ? json(expected[i].serial) : json(nullptr));
    EXPECT_EQ(runs[i]["result"], expected[i].result);
    EXPECT_EQ(runs[i]["record"]["command"], "program");
  }
  EXPECT_EQ(runs[0]["operator"], "ana");
}

// A board swapped for another at the same address after the stamp frame: the
// batch reads the identity back before the lock, finds the other board, locks
// nothing and keeps the number as failed; program keeps its exchange and locks.
TEST_P(BatchDb, ABoardSwappedMidRunIsNeverLockedAndItsNumberIsKept) {
  const std::string file = files_.Write("image.s19", S19({{0x4000, Pattern(128, 3)}}));
  for (const bool batch : {true, false}) {
    SCOPED_TRACE(batch ? "batch" : "program");
    SimOptions options = UdpBoard();
    options.faults.swappedAfterProgramFrame = 1;  // frames: 0x420 (the stamp), 0x4000, 0x4040
    SimBoard sim;
    START_SIM(sim, options);
    ClearInterrupt();
    const Outcome o =
        batch ? Cli({"--board", "127.0.0.1", "--json", "batch", file, "--serial-from", "SN0001", "--db", target_,
                     "--log", files_.Path("line.log"), "--count", "1", "--wait-seconds", "5"})
              : Cli({"--board", "127.0.0.1", "--json", "program", file, "--serial", "P1"});
    EXPECT_EQ(o.status, batch ? 7 : 0) << o.out << o.err;
    EXPECT_EQ(sim.Locked(), !batch);
    if (!batch) continue;
    EXPECT_EQ(SerialOnBoard(sim.Flash()), "SWAPPED");
    const json record = JsonLinesOf(o.out).front();
    EXPECT_EQ(record["message"], "The board changed during the run; it was not locked");
    EXPECT_EQ(record["cause"]["what"], "the board changed during the run");
    const Outcome found = Cli({"--json", "db", "find", "SN0001", "--db", target_});
    ASSERT_EQ(found.Json()["allocations"].size(), 1u) << found.out;
    EXPECT_EQ(found.Json()["allocations"][0]["state"], "failed");
    EXPECT_NE(found.Json()["allocations"][0]["cause"].get<std::string>().find("the board changed during the run"),
              std::string::npos);
  }
}

// db report's --from and --to: ISO 8601 or refused, an offset turned into UTC,
// as the runs' times are stored and compared.
TEST(DbReportTimes, AreIso8601AndComparedInUtc) {
  struct Case {
    const char* text;
    bool to;
    const char* utc;  // null: refused
  } cases[] = {
      {"2026-12-08", false, "2026-12-08T00:00:00.000Z"},
      {"2026-12-08", true, "2026-12-08T23:59:59.999Z"},
      {"2026-12-08T10:30", false, "2026-12-08T10:30:00.000Z"},
      {"2026-12-08T10:30+02:00", false, "2026-12-08T08:30:00.000Z"},
      {"2026-01-01T00:30:15.5+0100", true, "2025-12-31T23:30:15.500Z"},
      {"2026-12-08T23:00:00-01", false, "2026-12-09T00:00:00.000Z"},
      {"2026-12-08T08:00Z", false, "2026-12-08T08:00:00.000Z"},
      {"2026-12-8", false, nullptr},
      {"yesterday", false, nullptr},
      {"2026-02-30", false, nullptr},
      {"2026-12-08T24:00", false, nullptr},
      {"2026-12-08 10:30", false, nullptr},
      {"2026-12-08T10:30+2", false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string utc;
    EXPECT_EQ(UtcTimeOf(c.text, c.to, utc), c.utc != nullptr);
    if (c.utc != nullptr) {
      EXPECT_EQ(utc, c.utc);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, BatchDb, testing::Values("SQLite", "PostgreSQL"),
                         [](const testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
