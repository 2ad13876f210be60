// The varnel-sim program as a process (ready line, signals, flash file, exit
// codes) and its command line.

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "sim/sim_args.h"
#include "tests/sim/raw_client.h"
#include "tests/support/child_process.h"

namespace {

using namespace simtest;

constexpr int kProcessWaitMs = 10000;

// Collects the child's output until `line` has come whole, or the wait runs out.
bool WaitForLine(ChildProcess& child, const std::string& line) {
  return child.ReadUntil([&] { return child.Out().find(line + "\n") != std::string::npos; }, kProcessWaitMs);
}

TEST(VarnelSim, ServesUntilSigtermThenWritesTheFlashFile) {
  const auto file = std::filesystem::path(testing::TempDir()) / ("varnel_sim_" + std::to_string(::getpid()) + ".bin");
  ChildProcess child(VARNEL_SIM_PATH, {"--flash-file", file.string(), "--serial", "XY7"});
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(WaitForLine(child, "ready")) << child.Out();

  Udp udp;
  const Bytes reply = udp.Exchange(UdpFrame(1, ProgramFrame(0x3000, Pattern64(9))));
  EXPECT_EQ(reply, (Bytes{1, 0x66, 0x70, 0x4F, 0x00, 0x00, 0x30, 0x00}));
  EXPECT_TRUE(WaitForLine(child, "udp program 0x00003000 ok")) << child.Out();

  child.Signal(SIGTERM);
  EXPECT_EQ(child.Wait(kProcessWaitMs), 0);

  std::ifstream in(file, std::ios::binary);
  const Bytes flash((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(flash.size(), 0x20000u);
  EXPECT_TRUE(std::equal(flash.begin() + 0x3000, flash.begin() + 0x3040, Pattern64(9).begin()));
  EXPECT_EQ(std::string(flash.begin() + 0x420, flash.begin() + 0x425), std::string("BXY7\0", 5));
  std::filesystem::remove(file);
}

TEST(VarnelSim, StopsByItselfAtItsTimeLimit) {
  ChildProcess child(VARNEL_SIM_PATH, {"--time-limit", "1", "--quiet", "--tcp-only"});
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(WaitForLine(child, "ready")) << child.Out();
  Tcp tcp;
  tcp.Send(LockFrame());
  EXPECT_EQ(tcp.Receive(3), (Bytes{0x66, 0x6C, 0x4F}));
  EXPECT_EQ(child.Wait(kProcessWaitMs), 0);
  EXPECT_EQ(child.Out(), "ready\n");
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
      {{"--identity-hex", "FFFF"}, 64},
      {{"--identity-hex", "42534EE930303100FFFF56523332FFFG"}, 64},
      // The third board's serial number would take 16 characters.
      {{"--boards", "3", "--serial", "999999999999999", "--time-limit", "1"}, 1},
  };
  for (const Case& c : cases) {
    ChildProcess child(VARNEL_SIM_PATH, c.args);
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.Wait(kProcessWaitMs), c.status) << c.args[0];
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

// The record's bytes in order, whatever no text option can carry.
TEST(VarnelSimArgs, IdentityRecordFromHex) {
  std::string hex = "--identity-hex";
  std::string record = "42534ee930303100FFFF56523332FFFF";
  char* argv[] = {const_cast<char*>("varnel-sim"), hex.data(), record.data()};
  sim::SimArgs parsed;
  std::string error;
  ASSERT_TRUE(sim::ParseSimArgs(3, argv, parsed, error)) << error;
  EXPECT_EQ(parsed.options.identityRecord, std::string("BSN\xE9" "001\0\xFF\xFFVR32\xFF\xFF", 16));
}

}  // namespace
