// The varnel-sim program as a process (ready line, signals, flash file, exit
// codes) and its command line.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "sim/sim_args.h"
#include "tests/sim/raw_client.h"

namespace {

using namespace simtest;

constexpr int kProcessWaitMs = 10000;

struct Child {
  pid_t pid = -1;
  int out = -1;  // its standard output
};

Child Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::string program = VARNEL_SIM_PATH;
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (rc != 0) {
    ::close(pipeFds[0]);
    return {};
  }
  return {pid, pipeFds[0]};
}

// Reads the child's output until `line` appears whole or the wait runs out.
bool WaitForLine(int fd, const std::string& line, std::string& seen) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kProcessWaitMs);
  while (seen.find(line + "\n") == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[256];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    seen.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

// The exit status, or -1 when the child had to be killed after the wait.
int WaitExit(const Child& child) {
  for (int i = 0; i < kProcessWaitMs / 10; ++i) {
    int status = 0;
    if (::waitpid(child.pid, &status, WNOHANG) == child.pid) {
      ::close(child.out);
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(child.pid, SIGKILL);
  ::waitpid(child.pid, nullptr, 0);
  ::close(child.out);
  return -1;
}

std::string RestOfOutput(int fd) {
  std::string rest;
  char buffer[256];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) rest.append(buffer, static_cast<std::size_t>(n));
  return rest;
}

TEST(VarnelSim, ServesUntilSigtermThenWritesTheFlashFile) {
  const auto file = std::filesystem::path(testing::TempDir()) / ("varnel_sim_" + std::to_string(::getpid()) + ".bin");
  const Child child = Spawn({"--flash-file", file.string(), "--serial", "XY7"});
  ASSERT_GT(child.pid, 0);
  std::string output;
  ASSERT_TRUE(WaitForLine(child.out, "ready", output)) << output;

  Udp udp;
  const Bytes reply = udp.Exchange(UdpFrame(1, ProgramFrame(0x3000, Pattern64(9))));
  EXPECT_EQ(reply, (Bytes{1, 0x66, 0x70, 0x4F, 0x00, 0x00, 0x30, 0x00}));
  EXPECT_TRUE(WaitForLine(child.out, "udp program 0x00003000 ok", output)) << output;

  ::kill(child.pid, SIGTERM);
  EXPECT_EQ(WaitExit(child), 0);

  std::ifstream in(file, std::ios::binary);
  const Bytes flash((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(flash.size(), 0x20000u);
  EXPECT_TRUE(std::equal(flash.begin() + 0x3000, flash.begin() + 0x3040, Pattern64(9).begin()));
  EXPECT_EQ(std::string(flash.begin() + 0x420, flash.begin() + 0x425), std::string("BXY7\0", 5));
  std::filesystem::remove(file);
}

TEST(VarnelSim, StopsByItselfAtItsTimeLimit) {
  const Child child = Spawn({"--time-limit", "1", "--quiet", "--tcp-only"});
  ASSERT_GT(child.pid, 0);
  std::string output;
  ASSERT_TRUE(WaitForLine(child.out, "ready", output)) << output;
  Tcp tcp;
  tcp.Send(LockFrame());
  EXPECT_EQ(tcp.Receive(3), (Bytes{0x66, 0x6C, 0x4F}));
  EXPECT_EQ(WaitExit(child), 0);
  EXPECT_EQ(output + RestOfOutput(child.out), "ready\n");
}

TEST(VarnelSim, ExitStatusFollowsTheCommandLine) {
  struct Case {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"--help"}, 0},
      {{"--bogus"}, 64},
      {{"--udp-port"}, 64},
      {{"--udp-port", "0"}, 64},
      {{"--read-count", "30"}, 64},
      {{"--udp-only", "--tcp-only"}, 64},
      {{"--serial", "0123456789ABCDEF"}, 64},
      {{"--bind", "localhost"}, 64},
      {{"--revision", "AB"}, 64},
      {{"--boards", "0"}, 64},
      // The third board's serial number would take 16 characters.
      {{"--boards", "3", "--serial", "999999999999999", "--time-limit", "1"}, 1},
  };
  for (const Case& c : cases) {
    const Child child = Spawn(c.args);
    ASSERT_GT(child.pid, 0);
    EXPECT_EQ(WaitExit(child), c.status) << c.args[0];
  }
}

// --foreign takes an address only when one follows it.
TEST(VarnelSimArgs, ForeignAddressIsOptional) {
  struct Case {
    std::vector<std::string> args;
    const char* foreign;
    bool quiet;
  } cases[] = {
      {{"--foreign", "--quiet"}, "127.0.0.2", true},
      {{"--foreign", "127.0.0.9"}, "127.0.0.9", false},
      {{"--foreign"}, "127.0.0.2", false},
  };
  for (const Case& c : cases) {
    std::vector<std::string> copies = c.args;
    std::vector<char*> argv = {const_cast<char*>("varnel-sim")};
    for (std::string& a : copies) argv.push_back(a.data());
    sim::SimArgs parsed;
    std::string error;
    ASSERT_TRUE(sim::ParseSimArgs(static_cast<int>(argv.size()), argv.data(), parsed, error)) << error;
    EXPECT_TRUE(parsed.options.faults.foreignBeforeReply);
    EXPECT_EQ(parsed.options.faults.foreignAddress, c.foreign);
    EXPECT_EQ(parsed.quiet, c.quiet);
  }
}

}  // namespace
