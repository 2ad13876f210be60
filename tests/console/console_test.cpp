// Connect, Disconnect and Exit through the console logic with a fake window,
// against the simulated board on the board's own address.

#include <gtest/gtest.h>

#include <string>

#include "console/console.h"
#include "dialog/control_ids.h"
#include "tests/support/fake_window.h"
#include "tests/support/raw_socket.h"
#include "tests/support/sim_helpers.h"

namespace {

constexpr const char* kBoardAddress = "192.168.167.100";

SimOptions BoardAt(bool udp) {
  SimOptions o = udp ? UdpBoard() : TcpBoard();
  o.bindAddress = kBoardAddress;
  return o;
}

class ConsoleTest : public testing::Test {
 protected:
  void Connect() { OnConnect(window.state, window); }
  bool Enabled(int id) { return window.enabled[id]; }
  FakeWindow window;
};

TEST_F(ConsoleTest, AddressIsJoinedFromTheOctets) {
  EXPECT_EQ(BuildIpString(window.state, window), kBoardAddress);
  window.fields.octet[2] = "7";
  OnOctetKillFocus(window.state, window);
  EXPECT_EQ(window.state.address, "192.168.7.100");

  window.fields.serialNumber = std::string(16, '9');
  EXPECT_EQ(BuildIpString(window.state, window), "") << "a failed fetch gives no address";
}

TEST_F(ConsoleTest, ConnectShowsTheIdentityAndTheLinkType) {
  for (bool udp : {true, false}) {
    SimBoard sim;
    START_SIM(sim, BoardAt(udp));
    Connect();
    EXPECT_TRUE(window.messages.empty()) << udp;
    EXPECT_EQ(window.fields.revision, "B");
    EXPECT_EQ(window.fields.serialNumber, "123456");
    EXPECT_EQ(window.fields.hardware, "VR32");
    EXPECT_EQ(window.fields.commType, udp ? "UDP" : "TCP");
    EXPECT_EQ(window.state.session.Transport(), udp ? LinkMode::kUdp : LinkMode::kTcp);
    EXPECT_TRUE(window.state.session.Link().IsOpen());
    EXPECT_FALSE(Enabled(IDC_CONNECT));
    EXPECT_TRUE(Enabled(IDC_DISCONNECT));
    EXPECT_TRUE(Enabled(IDC_PROGRAM));
    OnDisconnect(window.state, window);
  }
}

TEST_F(ConsoleTest, SerialNumberWithoutNulRunsToTheEndOfTheBlock) {
  SimOptions options = BoardAt(true);
  options.serial = "ABCDEFGHIJKLMNO";  // fifteen characters: no room for the NUL
  SimBoard sim;
  START_SIM(sim, options);
  Connect();
  const auto flash = sim.Flash();
  const std::string onBoard(flash.begin() + 0x421, flash.begin() + 0x430);
  ASSERT_EQ(onBoard.find('\0'), std::string::npos);
  EXPECT_EQ(window.fields.serialNumber, onBoard);
  EXPECT_EQ(window.fields.hardware, onBoard.substr(9, 4)) << "the hardware code shares those bytes";
}

TEST_F(ConsoleTest, EmptyIdentityFieldsEndAtTheirFirstNul) {
  SimOptions options = BoardAt(true);
  options.revision = '\0';
  options.serial = "";
  SimBoard sim;
  START_SIM(sim, options);
  Connect();
  EXPECT_EQ(window.fields.revision, "");
  EXPECT_EQ(window.fields.serialNumber, "");
  EXPECT_EQ(window.fields.hardware, "VR32");
}

TEST_F(ConsoleTest, FailedConnectReportsTheErrorAndLeavesTheButtons) {
  window.fields.revision = "Z";
  window.fields.serialNumber = "old";
  window.fields.hardware = "OLD1";
  window.fields.fileName = "/tmp/a.s19";
  Connect();  // nothing answers on either transport
  const int refused = SockRefusedError();
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0],
            "Failed to connection to the Varnel board. Error = " + std::to_string(refused) + ".\n");
  EXPECT_FALSE(window.state.session.Link().IsOpen());
  EXPECT_EQ(window.fields.revision, "");
  EXPECT_EQ(window.fields.serialNumber, "");
  EXPECT_EQ(window.fields.hardware, "");
  EXPECT_EQ(window.fields.fileName, "/tmp/a.s19");
  EXPECT_TRUE(window.enableCalls.empty());
}

TEST_F(ConsoleTest, FailedIdentityReadKeepsTheLinkAndTheFields) {
  SimOptions options = BoardAt(true);
  options.faults.badReadChecksum = true;
  SimBoard sim;
  START_SIM(sim, options);
  window.fields.revision = "Z";
  Connect();
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0], "Failed to upload current Serial number and Rev.");
  EXPECT_TRUE(window.state.session.Link().IsOpen()) << "the link stays open";
  EXPECT_EQ(window.fields.revision, "Z");
  EXPECT_TRUE(window.enableCalls.empty());

  // CONNECT is still available and starts over, closing that link first.
  sim.Stop();
  SimBoard good;
  START_SIM(good, BoardAt(true));
  Connect();
  EXPECT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.fields.revision, "B");
}

TEST_F(ConsoleTest, FailedFetchStopsConnectBeforeAnythingIsSent) {
  SimBoard sim;
  START_SIM(sim, BoardAt(true));
  window.fields.serialNumber = std::string(16, '1');
  Connect();
  EXPECT_TRUE(sim.Events().empty());
  EXPECT_FALSE(window.state.session.Link().IsOpen());
  EXPECT_TRUE(window.enableCalls.empty());
}

TEST_F(ConsoleTest, DisconnectClearsIdentityAndKeepsTheFetchedFileName) {
  SimBoard sim;
  START_SIM(sim, BoardAt(true));
  window.fields.fileName = "/data/board.s19";
  Connect();
  window.fields.fileName = "typed since";  // not fetched by Disconnect
  OnDisconnect(window.state, window);
  EXPECT_TRUE(window.messages.empty());
  EXPECT_FALSE(window.state.session.Link().IsOpen());
  EXPECT_EQ(window.fields.fileName, "/data/board.s19");
  EXPECT_EQ(window.fields.octet[3], "100");
  for (const std::string* field : {&window.fields.revision, &window.fields.serialNumber,
                                   &window.fields.hardware, &window.fields.commType}) {
    EXPECT_EQ(*field, "");
  }
  EXPECT_TRUE(Enabled(IDC_CONNECT));
  EXPECT_FALSE(Enabled(IDC_DISCONNECT));
  EXPECT_FALSE(Enabled(IDC_PROGRAM));
}

TEST_F(ConsoleTest, DisconnectWithoutALinkReportsTheRefusedClose) {
  OnDisconnect(window.state, window);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0], "Failed to connection to the Varnel board. Error = 1.\n");
  EXPECT_TRUE(Enabled(IDC_CONNECT));
  EXPECT_FALSE(Enabled(IDC_PROGRAM));
}

TEST_F(ConsoleTest, ExitClosesAnOpenLink) {
  SimBoard sim;
  START_SIM(sim, BoardAt(false));
  Connect();
  ASSERT_TRUE(window.state.session.Link().IsOpen());
  const int fetchesBefore = window.fetches;
  OnExit(window.state, window);
  EXPECT_FALSE(window.state.session.Link().IsOpen());
  EXPECT_EQ(window.fetches, fetchesBefore + 1);
  EXPECT_TRUE(window.messages.empty());
}

}  // namespace
