// The tovrin-cli program as a script or test station runs it: a child process
// against the simulated board, its exit status and its standard output parsed as
// JSON. Every wait is bounded; a child that overruns is killed.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

// `input` is written to the child's standard input, which then ends.
Finished RunCliProcess(const std::vector<std::string>& args, const std::string& input = "") {
  std::vector<std::string> copies = {TOVRIN_CLI_PATH};
  copies.insert(copies.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);

  Finished f;
  int outPipe[2];
  int errPipe[2];
  int inPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return f;
  if (::pipe2(errPipe, O_CLOEXEC) != 0) return f;
  if (::pipe2(inPipe, O_CLOEXEC) != 0) return f;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, copies[0].c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  ::close(inPipe[0]);
  // Small inputs fit the pipe's buffer, so this cannot block on the child.
  if (spawned == 0 && ::write(inPipe[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
    f.err = "cannot write the child's input";
  }
  ::close(inPipe[1]);

  // Both pipes until both close, or the wait runs out.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kProcessWaitMs);
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* texts[2] = {&f.out, &f.err};
  int openPipes = spawned == 0 ? 2 : 0;
  while (openPipes > 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0 || ::poll(fds, 2, static_cast<int>(left)) <= 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        texts[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        fds[i].fd = -1;
        --openPipes;
      }
    }
  }
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  if (spawned != 0) return f;
  if (openPipes > 0) ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  f.status = openPipes == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

}  // namespace
