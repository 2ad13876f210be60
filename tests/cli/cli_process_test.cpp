// The tovrin-cli program as a script or test station runs it: a child process
// against the simulated board, its exit status and its standard output parsed as
// JSON. Every wait is bounded; a child that overruns is killed.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/srecord_text.h"
#include "tests/support/sim_helpers.h"

namespace {

// The board's own waits apply in the child: a run ends with a 2000 ms pause.
constexpr int kProcessWaitMs = 20000;

struct Finished {
  int status = -1;  // exit status; -1 when killed or not started
  std::string out;
  std::string err;
};

// A signal sent to the child once its diagnostics contain `when`, or once
// `condition` (asked at least every kConditionPollMs) turns true.
constexpr int kConditionPollMs = 10;
struct SignalWhen {
  int signal = 0;  // 0: none
  std::string when;
  std::function<bool()> condition;
};

// A file system about to fill up, for the child started while this lives: its
// writes that would take a file past `bytes` fail (SIGXFSZ ignored: EFBIG, or a
// short write) as on a full disk. The limit and the signal's disposition pass
// to the child; this process has its own back once the child started.
class ChildFileSizeLimit {
 public:
  explicit ChildFileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
  }
  ~ChildFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, oldHandler_);
  }
  ChildFileSizeLimit(const ChildFileSizeLimit&) = delete;
  ChildFileSizeLimit& operator=(const ChildFileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  sighandler_t oldHandler_ = SIG_DFL;
};

// fileBytes: a limit on the size of the files the child writes; 0 for none.
Finished RunCliProcess(const std::vector<std::string>& args, const std::string& input = "",
                       const SignalWhen& interrupt = {}, rlim_t fileBytes = 0) {
  std::optional<ChildFileSizeLimit> limit;
  if (fileBytes > 0) limit.emplace(fileBytes);
  ChildProcess child(TOVRIN_CLI_PATH, args, input);
  limit.reset();
  Finished f;
  if (!child.Started()) return f;
  if (interrupt.signal != 0) {
    const bool due = child.ReadUntil(
        [&] {
          if (interrupt.condition) return interrupt.condition();
          return child.Err().find(interrupt.when) != std::string::npos;
        },
        kProcessWaitMs, kConditionPollMs);
    if (due) child.Signal(interrupt.signal);
  }
  f.status = child.Wait(kProcessWaitMs);
  f.out = child.Out();
  f.err = child.Err();
  return f;
}

class CliProcess : public testing::Test {
 protected:
  void SetUp() override {
    path = std::filesystem::path(testing::TempDir()) / ("cli_process_" + std::to_string(::getpid()) + ".s19");
    std::ofstream(path) << S3(0x4000, {1, 2, 3, 4, 5, 6, 7, 8}) << "\n" << S3(0x4100, {9}) << "\n";
  }
  void TearDown() override { std::filesystem::remove(path); }
  std::filesystem::path path;
};

TEST_F(CliProcess, ProgramsASimulatedBoardAndPrintsOneJsonObject) {
  SimBoard sim;
  START_SIM(sim, UdpBoard());
  const Finished f = RunCliProcess({"--board", "127.0.0.1", "program", path.string(), "--serial", "PROC1", "--json"});
  EXPECT_EQ(f.status, 0) << f.err;

  ASSERT_EQ(f.out.find('\n'), f.out.size() - 1) << "one line: " << f.out;
  const nlohmann::json r = nlohmann::json::parse(f.out, nullptr, false);
  ASSERT_TRUE(r.is_object()) << f.out;
  EXPECT_EQ(r["result"], 0);
  EXPECT_EQ(r["message"], "Download Successful");
  EXPECT_EQ(r["link"], "UDP");
  EXPECT_EQ(r["written"], (nlohmann::json{{"revision", "B"}, {"serial", "PROC1"}}));
  EXPECT_EQ(r["frames"], (nlohmann::json{{"planned", 3}, {"acknowledged", 3}, {"unsent_bytes", 0}}));
  EXPECT_NE(f.err.find("Program Flash"), std::string::npos) << f.err;

  const auto flash = sim.Flash();
  EXPECT_EQ(std::vector<std::uint8_t>(flash.begin() + 0x4000, flash.begin() + 0x4008),
            (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(flash[0x4100], 9);
  EXPECT_EQ(std::string(flash.begin() + 0x420, flash.begin() + 0x427), std::string("BPROC1\0", 7));
}

// Standard input is read once: the record's hash is that of the bytes sent, and
// the board holds what the same file gives.
TEST_F(CliProcess, ProgramsFromStandardInputAndLogsTheHashOfWhatItSent) {
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string expectedHash;
  if (std::FILE* sum = ::popen(("sha256sum " + path.string()).c_str(), "r")) {
    char digits[65] = {};
    if (std::fread(digits, 1, 64, sum) == 64) expectedHash = digits;
    ::pclose(sum);
  }
  ASSERT_EQ(expectedHash.size(), 64u);
  const std::string log = path.string() + ".log";
  SimBoard sim;
  START_SIM(sim, TcpBoard());
  const Finished f = RunCliProcess({"--board", "127.0.0.1", "program", "-", "--log", log, "--json"}, text);
  EXPECT_EQ(f.status, 0) << f.err;
  std::ifstream logFile(log);
  std::string line;
  ASSERT_TRUE(std::getline(logFile, line));
  std::filesystem::remove(log);
  EXPECT_EQ(nlohmann::json::parse(line, nullptr, false)["sha256"], expectedHash);
  const auto flash = sim.Flash();
  EXPECT_EQ(flash[0x4100], 9);
  EXPECT_EQ(flash[0x4007], 8);
}

// On the board's own address, which only this test's private network carries.
TEST_F(CliProcess, ExitStatusIsTheResult) {
  SimOptions options = UdpBoard();
  options.bindAddress = "192.168.167.100";
  options.faults.lockNak = true;
  SimBoard sim;
  START_SIM(sim, options);
  Finished f = RunCliProcess({"--json", "program", path.string()});
  EXPECT_EQ(f.status, 5) << f.err;
  EXPECT_EQ(nlohmann::json::parse(f.out, nullptr, false)["message"], "Abort lock flash and reset CPU");

  const std::size_t events = sim.Events().size();
  f = RunCliProcess({"program", path.string(), "--rev", "AB"});
  EXPECT_EQ(f.status, 64);
  EXPECT_EQ(f.out, "");
  EXPECT_EQ(sim.Events().size(), events) << "a usage error sends nothing";
}

// Ctrl+C or SIGTERM mid-run: the run stops at the next exchange, the board is
// not locked, and the output and the record both say so.
TEST_F(CliProcess, InterruptedRunLeavesTheBoardUnlockedAndARecord) {
  std::string text;
  for (std::uint32_t address = 0x4000; address < 0x5000; address += 32) text += S3(address, Bytes(32, 0x5A)) + "\n";
  std::ofstream(path) << text;
  const std::string log = path.string() + ".log";
  struct Case {
    int signal;
    int status;
  };
  for (const Case c : {Case{SIGINT, 130}, Case{SIGTERM, 143}}) {
    SCOPED_TRACE(c.signal);
    SimOptions options = UdpBoard();
    options.faults.replyDelayMs = 20;  // 65 frames: over a second, so the signal lands mid-run
    SimBoard sim;
    START_SIM(sim, options);
    std::filesystem::remove(log);
    const Finished f = RunCliProcess({"--board", "127.0.0.1", "program", path.string(), "--log", log, "--json"}, "",
                                     {c.signal, "programmed ", {}});
    EXPECT_EQ(f.status, c.status) << f.err;
    const nlohmann::json r = nlohmann::json::parse(f.out, nullptr, false);
    EXPECT_EQ(r["result"], "interrupted") << f.out;
    EXPECT_EQ(r["cause"]["command"], "program") << f.out;
    const int acknowledged = r["frames"]["acknowledged"].get<int>();
    EXPECT_GT(acknowledged, 0);
    EXPECT_LT(acknowledged, r["frames"]["planned"].get<int>());
    EXPECT_EQ(r["cause"]["frame"], acknowledged + 1);

    std::ifstream logFile(log);
    std::string line;
    ASSERT_TRUE(std::getline(logFile, line));
    const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    EXPECT_EQ(record["result"], "interrupted");
    EXPECT_EQ(record["frames"], r["frames"]);

    EXPECT_FALSE(sim.Locked());
    for (const SimEvent& e : sim.Events()) EXPECT_NE(e.command, 'l');
  }
  std::filesystem::remove(log);
}

// A disk that fills up during the run: the record or the trace is cut, standard
// error says so and the status is 13, and standard output still says what the
// board got.
TEST_F(CliProcess, ARecordFileThatFillsUpExits13WithTheBoardStillReported) {
  constexpr rlim_t kFileBytes = 1024;  // less than a record or this run's trace
  struct Case {
    const char* option;
    const char* says;
  } cases[] = {{"--log", "did not take this run's record"}, {"--trace", "did not take every event"}};
  const std::string file = path.string() + ".jsonl";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    // Earlier runs' lines fill all but the last 100 bytes.
    std::ofstream(file) << std::string(kFileBytes - 101, '#') << "\n";
    SimBoard sim;
    START_SIM(sim, UdpBoard());
    const Finished f =
        RunCliProcess({"--board", "127.0.0.1", "program", path.string(), c.option, file, "--json"}, "", {}, kFileBytes);
    EXPECT_EQ(f.status, 13) << f.err;
    EXPECT_NE(f.err.find(c.says), std::string::npos) << f.err;
    EXPECT_EQ(nlohmann::json::parse(f.out, nullptr, false)["message"], "Download Successful") << f.out;
    EXPECT_TRUE(sim.Locked());
  }
  std::filesystem::remove(file);
}

// A batch killed with SIGKILL in the middle of a board's run, then started
// again: the number that board was being given is lost, never handed out again,
// and every board ends with a number of its own.
TEST_F(CliProcess, BatchKilledMidRunNeverRepeatsASerialNumber) {
  std::string image = SRecord('0', 0, {'k'}) + "\n";
  for (std::uint32_t at = 0x4000; at < 0x4000 + 150 * 64; at += 32) image += S3(at, Bytes(32, 0x5A)) + "\n";
  std::ofstream(path) << image;
  const std::string state = path.string() + ".state";
  const std::string log = path.string() + ".log";
  SimOptions line = UdpBoard();
  line.serial = "F001";
  line.lineBoards = 3;
  line.resetSilenceMs = 1500;   // the batch notices a silence within about 0.75 s
  line.faults.replyDelayMs = 2;  // a run long enough to be killed in its middle
  SimBoard sim;
  START_SIM(sim, line);
  const std::vector<std::string> batch = {"--board", "127.0.0.1", "batch", path.string(), "--serial-from", "SN0001",
                                          "--state", state, "--log", log, "--quiet", "--wait-seconds", "10"};
  Finished f = RunCliProcess(
      batch, "", {SIGKILL, "", [&] { return sim.CurrentBoard() == 2 && sim.ProgramFramesWritten() >= 40; }});
  EXPECT_EQ(f.status, -1) << "killed";
  EXPECT_FALSE(sim.Locked());

  std::vector<std::string> again = batch;
  for (const char* more : {"--count", "2", "--allow-repeat", "--json"}) again.push_back(more);
  f = RunCliProcess(again);
  EXPECT_EQ(f.status, 0) << f.out << f.err;

  std::set<std::string> serials;
  for (int board = 1; board <= 3; ++board) {
    const auto flash = sim.BoardFlash(board);
    ASSERT_EQ(flash.size(), 0x20000u) << "board " << board;
    serials.insert(reinterpret_cast<const char*>(&flash[0x421]));
  }
  // SN0002 went with the killed run.
  EXPECT_EQ(serials, (std::set<std::string>{"SN0001", "SN0003", "SN0004"}));
  std::ifstream stateFile(state);
  std::string text((std::istreambuf_iterator<char>(stateFile)), std::istreambuf_iterator<char>());
  EXPECT_EQ(nlohmann::json::parse(text, nullptr, false), (nlohmann::json{{"first", "SN0001"}, {"next", "SN0005"}}));
  std::ifstream logFile(log);
  std::vector<std::string> logged;
  for (std::string l; std::getline(logFile, l);) logged.push_back(nlohmann::json::parse(l)["written"]["serial"]);
  EXPECT_EQ(logged, (std::vector<std::string>{"SN0001", "SN0003", "SN0004"}));
  std::filesystem::remove(state);
  std::filesystem::remove(log);
}

}  // namespace
