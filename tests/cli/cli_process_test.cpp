// The tovrin-cli program as a script or test station runs it: a child process
// against the simulated board, its exit status and its standard output parsed as
// JSON. Every wait is bounded; a child that overruns is killed.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "station/serial_store.h"
#include "tests/support/child_process.h"
#include "tests/support/scratch_database.h"
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

// Ctrl+C during a dump: the file is not written, so a dump cut short never
// passes for a whole one, and the output names the read it stopped before.
TEST_F(CliProcess, InterruptedDumpWritesNoFile) {
  SimOptions options = UdpBoard();
  options.faults.replyDelayMs = 1;  // 8192 reads: seconds, so the signal lands mid-read
  SimBoard sim;
  START_SIM(sim, options);
  const std::string dump = path.string() + ".dump.s19";
  const Finished f =
      RunCliProcess({"--board", "127.0.0.1", "read", "--out", dump, "--json"}, "", {SIGINT, "read 820 ", {}});
  EXPECT_EQ(f.status, 130) << f.err;
  const nlohmann::json r = nlohmann::json::parse(f.out, nullptr, false);
  EXPECT_EQ(r["result"], "interrupted") << f.out;
  EXPECT_EQ(r["cause"]["command"], "read") << f.out;
  EXPECT_EQ(r["written"], false);
  EXPECT_LT(r["reads"].get<int>(), 8192);
  EXPECT_FALSE(std::filesystem::exists(dump));
  EXPECT_FALSE(std::filesystem::exists(dump + ".tmp"));
}

// A station's store of serial numbers, one per engine: a STATE file, a SQLite
// file, a PostgreSQL database of the test's own.
class WithStore : public CliProcess, public testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override {
    CliProcess::SetUp();
    state = path.string() + ".shared.state";
    sqlite = path.string() + ".station.db";
    pg = std::make_unique<ScratchDatabase>(GetParam() == "PostgreSQL");
    if (GetParam() == "PostgreSQL" && pg->Url().empty()) GTEST_SKIP() << pg->Error();
    if (GetParam() == "SQLite") {
      StoreError error;
      ASSERT_TRUE(OpenDatabaseStore(sqlite, error, {}, MissingDatabase::kCreate)) << error.message;
    }
  }
  void TearDown() override {
    for (const std::string& f : {state, state + ".lock", sqlite, sqlite + "-wal", sqlite + "-shm"}) {
      std::filesystem::remove(f);
    }
    CliProcess::TearDown();
  }
  std::vector<std::string> Store() const {
    return GetParam() == "STATE"    ? std::vector<std::string>{"--state", state}
           : GetParam() == "SQLite" ? std::vector<std::string>{"--db", sqlite}
                                    : std::vector<std::string>{"--db", pg->Url()};
  }
  // What `db pending` lists: one serial number per line.
  std::vector<std::string> Pending() {
    const Finished f = RunCliProcess({"--json", "db", "pending", Store()[0], Store()[1]});
    std::vector<std::string> serials;
    const nlohmann::json listed = nlohmann::json::parse(f.out, nullptr, false);
    if (!listed.is_object()) return {"db pending printed: " + f.out + f.err};
    for (const auto& row : listed["pending"]) serials.push_back(row["serial"]);
    return serials;
  }
  std::string state;
  std::string sqlite;
  std::unique_ptr<ScratchDatabase> pg;
};

// A disk that fills up during the run: the record or the trace is cut, standard
// error says so and the status is 13, and standard output still says what the
// board got.
TEST_F(CliProcess, ARecordFileThatFillsUpExits13WithTheBoardStillReported) {
  struct Case {
    const char* option;
    rlim_t fileBytes;  // the disk's room: less than the record, the trace or the capture needs
    std::size_t kept;  // bytes of earlier runs already in the file (a capture starts afresh)
    const char* says;
  } cases[] = {{"--log", 1024, 923, "did not take this run's record"},
               {"--trace", 1024, 923, "did not take every event"},
               {"--pcap", 256, 0, "did not take every packet"}};
  const std::string file = path.string() + ".jsonl";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    std::ofstream(file) << std::string(c.kept, '#') << (c.kept > 0 ? "\n" : "");
    SimBoard sim;
    START_SIM(sim, UdpBoard());
    const Finished f =
        RunCliProcess({"--board", "127.0.0.1", "program", path.string(), c.option, file, "--json"}, "", {}, c.fileBytes);
    EXPECT_EQ(f.status, 13) << f.err;
    EXPECT_NE(f.err.find(c.says), std::string::npos) << f.err;
    EXPECT_EQ(nlohmann::json::parse(f.out, nullptr, false)["message"], "Download Successful") << f.out;
    EXPECT_TRUE(sim.Locked());
  }
  std::filesystem::remove(file);
}

// A batch killed with SIGKILL in the middle of a board's run, then started
// again: the number that board was being given is never handed out again (the
// database keeps it pending for a person to look at), and every board ends with
// a number of its own.
TEST_P(WithStore, BatchKilledMidRunNeverRepeatsASerialNumber) {
  std::string image = SRecord('0', 0, {'k'}) + "\n";
  for (std::uint32_t at = 0x4000; at < 0x4000 + 150 * 64; at += 32) image += S3(at, Bytes(32, 0x5A)) + "\n";
  std::ofstream(path) << image;
  const std::string log = path.string() + ".log";
  SimOptions line = UdpBoard();
  line.serial = "F001";
  line.lineBoards = 3;
  line.resetSilenceMs = 1500;   // the batch notices a silence within about 0.75 s
  line.faults.replyDelayMs = 2;  // a run long enough to be killed in its middle
  SimBoard sim;
  START_SIM(sim, line);
  std::vector<std::string> batch = {"--board", "127.0.0.1", "batch", path.string(), "--serial-from", "SN0001",
                                    "--log", log, "--quiet", "--wait-seconds", "10"};
  for (const std::string& s : Store()) batch.push_back(s);
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
  if (GetParam() == "STATE") {
    std::ifstream stateFile(state);
    std::string text((std::istreambuf_iterator<char>(stateFile)), std::istreambuf_iterator<char>());
    EXPECT_EQ(nlohmann::json::parse(text, nullptr, false), (nlohmann::json{{"first", "SN0001"}, {"next", "SN0005"}}));
  } else {
    EXPECT_EQ(Pending(), std::vector<std::string>{"SN0002"});
  }
  std::ifstream logFile(log);
  std::vector<std::string> logged;
  for (std::string l; std::getline(logFile, l);) logged.push_back(nlohmann::json::parse(l)["written"]["serial"]);
  EXPECT_EQ(logged, (std::vector<std::string>{"SN0001", "SN0003", "SN0004"}));
  std::filesystem::remove(log);
}

// The database gone in the middle of a batch (here: it stops taking
// connections and drops the station's): the next board is not erased, and the
// batch ends saying why.
TEST_F(CliProcess, BatchWhoseDatabaseGoesAwayErasesNoFurtherBoard) {
  ScratchDatabase pg;
  if (pg.Url().empty()) GTEST_SKIP() << pg.Error();
  const std::string log = path.string() + ".log";
  SimOptions line = UdpBoard();
  line.serial = "F001";
  line.lineBoards = 2;
  line.resetSilenceMs = 1500;
  SimBoard sim;
  START_SIM(sim, line);
  ChildProcess station(TOVRIN_CLI_PATH, {"--board", "127.0.0.1", "--json", "batch", path.string(), "--serial-from",
                                         "SN0001", "--db", pg.Url(), "--log", log, "--wait-seconds", "10"});
  const auto logLines = [&] {
    std::ifstream in(log);
    return std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n');
  };
  ASSERT_TRUE(station.ReadUntil([&] { return logLines() >= 1; }, kProcessWaitMs, kConditionPollMs));
  ASSERT_TRUE(pg.Admin("ALTER DATABASE " + pg.Name() + " ALLOW_CONNECTIONS false")) << pg.Error();
  ASSERT_TRUE(pg.Admin("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" + pg.Name() + "'"))
      << pg.Error();
  EXPECT_EQ(station.Wait(kProcessWaitMs), 14) << station.Out() << station.Err();
  // The summary is the last line, after the board's record.
  std::istringstream printed(station.Out());
  std::string summary;
  for (std::string printedLine; std::getline(printed, printedLine);) {
    if (!printedLine.empty()) summary = printedLine;
  }
  const nlohmann::json r = nlohmann::json::parse(summary, nullptr, false);
  EXPECT_EQ(r["programmed"], 1) << station.Out();
  EXPECT_NE(r["message"].get<std::string>().find("Nothing was erased"), std::string::npos) << station.Out() << station.Err();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&sim.BoardFlash(2).at(0x421))), "F002") << "the second board not erased";
  pg.Admin("ALTER DATABASE " + pg.Name() + " ALLOW_CONNECTIONS true");
  std::filesystem::remove(log);
}

std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
  if (!line.empty() && line.back() == ',') fields.emplace_back();  // an empty last field
  return fields;
}

TEST_P(WithStore, TwoStationsShareOneStoreAndNeverHandOutTheSameNumber) {
  const std::vector<std::string> store = Store();
  const std::string logs[2] = {path.string() + ".1.log", path.string() + ".2.log"};
  const char* addresses[2] = {"127.0.0.1", "127.0.0.2"};
  constexpr int kBoardsPerLine = 4;
  SimBoard lines[2];
  for (int i = 0; i < 2; ++i) {
    SimOptions line = TcpBoard();  // no shared UDP port 1234 between the two stations
    line.bindAddress = addresses[i];
    line.serial = std::string("L") + char('1' + i) + "01";
    line.lineBoards = kBoardsPerLine;
    line.resetSilenceMs = 1500;
    START_SIM(lines[i], line);
  }
  std::vector<std::unique_ptr<ChildProcess>> stations;
  for (int i = 0; i < 2; ++i) {
    std::vector<std::string> args = {"--board", addresses[i], "--quiet", "batch", path.string(), "--serial-from",
                                     "SN0001", "--log", logs[i], "--count", std::to_string(kBoardsPerLine),
                                     "--wait-seconds", "10", "--operator", "line" + std::to_string(i + 1)};
    args.insert(args.end(), store.begin(), store.end());
    stations.push_back(std::make_unique<ChildProcess>(TOVRIN_CLI_PATH, args));
  }
  for (auto& station : stations) EXPECT_EQ(station->Wait(kProcessWaitMs), 0) << station->Out() << station->Err();

  std::multiset<std::string> serials;
  for (const SimBoard& line : lines) {
    for (int board = 1; board <= kBoardsPerLine; ++board) {
      const auto flash = line.BoardFlash(board);
      ASSERT_EQ(flash.size(), 0x20000u);
      serials.insert(reinterpret_cast<const char*>(&flash[0x421]));
    }
  }
  std::multiset<std::string> expected;
  for (int n = 1; n <= 2 * kBoardsPerLine; ++n) expected.insert("SN000" + std::to_string(n));
  EXPECT_EQ(serials, expected);
  if (GetParam() == "STATE") {
    std::ifstream stateFile(state);
    const std::string text((std::istreambuf_iterator<char>(stateFile)), std::istreambuf_iterator<char>());
    EXPECT_EQ(nlohmann::json::parse(text, nullptr, false), (nlohmann::json{{"first", "SN0001"}, {"next", "SN0009"}}));
  } else {
    const Finished report = RunCliProcess({"db", "report", "--csv", store[0], store[1]});
    ASSERT_EQ(report.status, 0) << report.err;
    std::istringstream rows(report.out);
    std::string line;
    std::getline(rows, line);
    EXPECT_EQ(line, "time,command,station,slot,operator,serial,sha256,result,conflict,job,job_sha256,job_signer");
    std::multiset<std::string> reported;
    std::set<std::string> slots;
    for (; std::getline(rows, line);) {
      const std::vector<std::string> f = CsvFields(line);
      ASSERT_EQ(f.size(), 12u) << line;
      EXPECT_EQ(f[1], "batch");
      EXPECT_FALSE(f[2].empty()) << "the station's host name";
      slots.insert(f[3]);
      EXPECT_EQ(f[6].size(), 64u) << "the file's SHA-256";
      EXPECT_EQ(f[7], "programmed");
      reported.insert(f[5]);
    }
    EXPECT_EQ(reported, expected);
    EXPECT_EQ(slots, (std::set<std::string>{"127.0.0.1", "127.0.0.2"}));
  }
  for (const std::string& f : logs) std::filesystem::remove(f);
}

INSTANTIATE_TEST_SUITE_P(Stores, WithStore, testing::Values("STATE", "SQLite", "PostgreSQL"),
                         [](const testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
