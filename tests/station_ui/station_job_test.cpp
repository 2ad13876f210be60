// tovrin-station --job against the simulated board: every refusal ends the
// station with tovrin-cli's status before its page and before any board, and
// a signed job runs through the station's line, its records naming the job;
// a firmware changed after the station started is refused at Start, unerased.
// The job and its signatures were made by the openssl command
// (tests/cli/job_fixtures.h), so under Wine the BCrypt side checks them.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/exit_codes.h"
#include "station_ui/line_station.h"
#include "station_ui/station_app.h"
#include "tests/cli/job_fixtures.h"
#include "tests/support/sim_helpers.h"

namespace {

using namespace station_ui;
using nlohmann::json;

json SnapshotOf(const StationModel& model) { return json::parse(model.SnapshotJson()); }

bool WaitFor(const StationModel& model, const std::function<bool(const json&)>& done) {
  for (int i = 0; i < 3000 && !done(SnapshotOf(model)); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done(SnapshotOf(model));
}

// SetUpStation over the arguments; `trustFolder` stands for the station-wide one.
int SetUpWith(std::vector<std::string> args, const std::string& trustFolder, StationOptions& options,
          StationSetup& setup, std::string& said) {
  args.insert(args.begin(), "tovrin-station");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  options.trustFolder = trustFolder;
  std::FILE* err = std::tmpfile();
  const int status = SetUpStation(static_cast<int>(argv.size()), argv.data(), options, setup, err, err);
  std::rewind(err);
  char buffer[4096];
  said.assign(buffer, std::fread(buffer, 1, sizeof buffer, err));
  std::fclose(err);
  return status;
}

TEST(StationJobTest, EachRefusedJobEndsTheStationWithItsStatus) {
  std::string changedFirmware = jobfix::kFirmware;
  changedFirmware.replace(changedFirmware.find("030A"), 4, "040A");
  changedFirmware.replace(changedFirmware.find("72\n"), 2, "71");  // its checksum kept right
  struct Case {
    const char* name;
    std::string job;
    std::string signature;  // hex; empty: no JOB.sig
    std::string firmware;
    bool keyInFolder;       // pub.pem in the station-wide folder
    std::vector<std::string> args;  // JOB, KEY: the job's and pub.pem's paths
    int status;
    const char* says;
  } cases[] = {
      {"firmware byte changed", jobfix::kJob, jobfix::kJobSignature, changedFirmware, false,
       {"--job", "JOB", "--trusted-key", "KEY"}, exit_code::kJobFirmwareDiffers, "is not the job's"},
      {"signed by a key not trusted", jobfix::kJob, jobfix::kJobSignatureByAnother, jobfix::kFirmware, true,
       {"--job", "JOB"}, exit_code::kJobNotTrusted, "does not verify with any key"},
      {"no job, keys trusted", jobfix::kJob, "", jobfix::kFirmware, true,
       {"FW", "--serial-from", "SN0001"}, exit_code::kJobNotTrusted, "runs only jobs signed"},
      {"expired", jobfix::kExpiredJob, jobfix::kExpiredSignature, jobfix::kFirmware, false,
       {"--job", "JOB", "--trusted-key", "KEY"}, exit_code::kJobOutOfDate, "expired"},
      {"an option the job fixes", jobfix::kJob, jobfix::kJobSignature, jobfix::kFirmware, false,
       {"--job", "JOB", "--trusted-key", "KEY", "--rev", "D"}, kUsageExit, "--rev cannot be given with --job"},
      {"a key that is none", jobfix::kJob, jobfix::kJobSignature, jobfix::kFirmware, false,
       {"--job", "JOB", "--trusted-key", "FW"}, exit_code::kJobUnreadable, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFiles files("station_job");
    const std::string job = jobfix::WriteJob(files, c.job, c.signature, c.firmware);
    std::filesystem::create_directories(files.Path("trusted"));
    if (c.keyInFolder) files.Write("trusted/station.pem", jobfix::kPublicKey);
    std::vector<std::string> args = {"--state", files.Path("line.state"), "--log", files.Path("line.jsonl")};
    for (const std::string& a : c.args) {
      args.push_back(a == "JOB" ? job : a == "KEY" ? files.Path("pub.pem") : a == "FW" ? files.Path("fw.s19") : a);
    }
    StationOptions options;
    StationSetup setup;
    std::string said;
    EXPECT_EQ(SetUpWith(args, files.Path("trusted"), options, setup, said), c.status) << said;
    EXPECT_NE(said.find(c.says), std::string::npos) << said;
  }
}

TEST(StationJobTest, ASignedJobRunsThroughTheLineAndAChangedFirmwareDoesNot) {
  TempFiles files("station_job_run");
  const std::string job = jobfix::WriteJob(files, jobfix::kJob, jobfix::kJobSignature);
  SimBoard sim;
  SimOptions board = UdpBoard();
  board.bindAddress = line_const::kBoardAddress;  // the line's board, on the test's own loopback
  START_SIM(sim, board);
  StationOptions options;
  StationSetup setup;
  std::string said;
  ASSERT_EQ(SetUpWith({"--job", job, "--trusted-key", files.Path("pub.pem"), "--state", files.Path("line.state"), "--log",
                   files.Path("line.jsonl")},
                  files.Path("no-folder"), options, setup, said),
            kRunStation)
      << said;
  StationModel model(SlotPorts(options));
  model.SetJob(setup.job);
  const json page = SnapshotOf(model)["job"];
  EXPECT_EQ(page["jobName"], jobfix::kJobName);
  EXPECT_EQ(page["jobSigner"], jobfix::kFingerprint);
  EXPECT_EQ(page["revision"], "C");
  EXPECT_EQ(page["nextSerial"], "SN0001");
  {
    LineStation line(options, setup.job, model, setup.approved);
    ASSERT_TRUE(line.Start().accepted);
    ASSERT_TRUE(WaitFor(model, [](const json& s) { return s["line"]["counters"]["passed"] == 1; }))
        << SnapshotOf(model)["line"];
    line.StopAndWait("the test");

    // The records name the job as batch's do; the board holds the very bytes hashed.
    std::ifstream log(files.Path("line.jsonl"));
    std::string first;
    std::getline(log, first);
    const json record = json::parse(first);
    EXPECT_EQ(record["job"]["name"], jobfix::kJobName);
    EXPECT_EQ(record["job"]["signer"], jobfix::kFingerprint);
    const Runs runs = {{0x0, {0x03, 0x0A, 0x11, 0x18, 0x1F, 0x26, 0x2D, 0x34, 0x3B, 0x42, 0x49, 0x50, 0x57, 0x5E,
                              0x65, 0x6C, 0x01, 0x06, 0x0B, 0x10, 0x15, 0x1A, 0x1F, 0x24, 0x29, 0x2E, 0x33, 0x38,
                              0x3D, 0x42, 0x47, 0x4C}}};
    EXPECT_EQ(sim.Flash(), Expected(runs, "SN0001", 'C'));

    // The file swapped while the station ran: the next Start meets no board.
    std::string changed = jobfix::kFirmware;
    changed.replace(changed.find("030A"), 4, "040A");
    changed.replace(changed.find("72\n"), 2, "71");
    files.Write("fw.s19", changed);
    const auto erases = [&sim] {
      const auto events = sim.Events();
      return std::count_if(events.begin(), events.end(), [](const SimEvent& e) { return e.command == 'e'; });
    };
    const auto erasedBefore = erases();
    ASSERT_TRUE(line.Start().accepted);
    ASSERT_TRUE(WaitFor(model, [](const json& s) { return s["line"]["state"] == "ended"; }));
    EXPECT_NE(SnapshotOf(model)["line"]["summary"].get<std::string>().find("is not the job's"), std::string::npos)
        << SnapshotOf(model)["line"]["summary"];
    EXPECT_EQ(erases(), erasedBefore);
  }
}

}  // namespace
