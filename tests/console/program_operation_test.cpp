// The PROGRAM button's operation through the console logic with a fake window:
// its preconditions, its messages, and the Disconnected state it always ends in.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "console/console.h"
#include "dialog/control_ids.h"
#include "tests/support/board_runs.h"
#include "tests/support/fake_window.h"
#include "tests/support/sim_helpers.h"

namespace {

class ProgramOperationTest : public testing::Test {
 protected:
  void SetUp() override {
    file = files.Write("op.s19", S3(0x2000, {0x12, 0x34, 0x56, 0x78}) + "\n");
  }

  // Connects to the board the way the operator does.
  void Connect(SimBoard& sim, SimOptions options = UdpBoard()) {
    options.bindAddress = "192.168.167.100";
    START_SIM(sim, options);
    OnConnect(window.state, window);
    ASSERT_TRUE(window.messages.empty());
    ASSERT_TRUE(window.enabled[IDC_PROGRAM]);
  }
  void Program() { OnProgram(window.state, window); }

  void ExpectDisconnected() {
    EXPECT_FALSE(window.state.session.Link().IsOpen());
    EXPECT_TRUE(window.enabled[IDC_CONNECT]);
    EXPECT_FALSE(window.enabled[IDC_DISCONNECT]);
    EXPECT_FALSE(window.enabled[IDC_PROGRAM]);
    EXPECT_EQ(window.fields.revision, "");
    EXPECT_EQ(window.fields.serialNumber, "");
    EXPECT_EQ(window.fields.hardware, "");
    EXPECT_EQ(window.fields.commType, "");
  }

  TempFiles files{"operation"};
  std::filesystem::path file;
  FakeWindow window;
};

TEST_F(ProgramOperationTest, SuccessfulRunProgramsTheEditedIdentityAndDisconnects) {
  SimBoard sim;
  Connect(sim);
  window.fields.fileName = file.string();
  window.fields.serialNumber = "EDITED-7";  // typed after Connect
  window.fields.revision = "K";
  Program();

  EXPECT_EQ(window.messages, std::vector<std::string>{"Download Successful"});
  ExpectDisconnected();
  EXPECT_EQ(window.fields.fileName, file.string());
  const auto flash = sim.Flash();
  EXPECT_EQ(std::string(flash.begin() + 0x420, flash.begin() + 0x42A), std::string("KEDITED-7\0", 10));
  EXPECT_EQ(flash[0x2000], 0x12);
  // The bar keeps what the run gave it.
  EXPECT_EQ(window.progress.ranges.size(), 1u);
  EXPECT_EQ(window.progress.positions.back(), 2 + 300);
}

TEST_F(ProgramOperationTest, EveryResultIsReportedAndEndsTheConnection) {
  struct Case {
    const char* name;
    void (*set)(SimFaults&);
    std::string fileText;  // empty: the fixture's good file
    const char* message;
  } cases[] = {
      // Every outcome's words are the run's (its own table); here, that a failed
      // run on the board and a refused file both end the connection.
      {"frame", [](SimFaults& f) { f.nakAtProgramFrame = 1; }, "", "Abort Program Flash"},
      {"checksum", [](SimFaults&) {}, S3(0x0, {1}).replace(14, 2, "00"), "Error in S Record check sum"},
  };
  for (const Case& c : cases) {
    if (!c.fileText.empty()) std::ofstream(file) << S3(0x2000, {1}) << "\n" << c.fileText << "\n";
    SimOptions options = UdpBoard();
    c.set(options.faults);
    SimBoard sim;
    window.Reset();
    Connect(sim, options);
    window.fields.fileName = file.string();
    Program();
    EXPECT_EQ(window.messages, std::vector<std::string>{c.message}) << c.name;
    ExpectDisconnected();
  }
}

// Programmed without edits, the identity goes back byte for byte: each byte is
// shown as the character of that number and written back as that one byte. The
// file carries the record's bytes after the serial number's NUL, which the stamp
// leaves to it.
TEST_F(ProgramOperationTest, UneditedIdentityIsWrittenBackByteForByte) {
  const struct Case {
    const char* name;
    std::string record;
    std::string revision;  // as shown, UTF-8
    std::string serial;
  } cases[] = {
      {"blank board", kBlankIdentity, "\xC3\xBF", [] {
         std::string y;
         for (int i = 0; i < 15; ++i) y += "\xC3\xBF";  // ÿ, 0xFF
         return y;
       }()},
      {"0xE9 in the serial number", kAccentedIdentity, "B", "SN\xC3\xA9" "001"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(file) << S3(0x2000, {0x12}) << "\n" << S3(0x429, Bytes(c.record.begin() + 9, c.record.end())) << "\n";
    SimOptions options = UdpBoard();
    options.identityRecord = c.record;
    SimBoard sim;
    window.Reset();
    Connect(sim, options);
    EXPECT_EQ(window.fields.revision, c.revision);
    EXPECT_EQ(window.fields.serialNumber, c.serial);
    window.fields.fileName = file.string();
    Program();
    EXPECT_EQ(window.messages, std::vector<std::string>{"Download Successful"});
    const auto flash = sim.Flash();
    EXPECT_EQ(std::string(flash.begin() + 0x420, flash.begin() + 0x430), c.record);
  }
}

TEST_F(ProgramOperationTest, MissingFileIsReportedAndEndsTheConnection) {
  SimBoard sim;
  Connect(sim);
  window.fields.fileName = (file.parent_path() / "gone.s19").string();
  Program();
  EXPECT_EQ(window.messages, std::vector<std::string>{"Cannot open S Record file"});
  ExpectDisconnected();
  EXPECT_EQ(sim.Events().size(), 2u) << "the probe and the identity read only";
}

TEST_F(ProgramOperationTest, PreconditionsLeaveTheLinkAsItWas) {
  Program();
  EXPECT_EQ(window.messages, std::vector<std::string>{"No Connection to the Varnel board."});
  EXPECT_TRUE(window.enableCalls.empty());

  window.messages.clear();
  SimBoard sim;
  Connect(sim);
  Program();  // no file name chosen
  EXPECT_EQ(window.messages, std::vector<std::string>{"No File Name."});
  EXPECT_TRUE(window.state.session.Link().IsOpen());
  EXPECT_TRUE(window.enabled[IDC_PROGRAM]);

  window.messages.clear();
  window.fields.fileName = file.string();
  window.fields.serialNumber = std::string(16, 'S');  // refused by the window's fetch
  const auto eventsBefore = sim.Events().size();
  Program();
  EXPECT_EQ(window.messages, std::vector<std::string>{msg::kSerialTooLong});
  EXPECT_EQ(sim.Events().size(), eventsBefore);
  EXPECT_TRUE(window.state.session.Link().IsOpen());
}

}  // namespace
