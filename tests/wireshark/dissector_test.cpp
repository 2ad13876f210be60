// The Wireshark dissector (tools/wireshark/varnel.lua) on captures of faulty
// runs made here: dumpcap on the loopback interface of the test's own network
// namespace while tovrin-cli programs the simulated board, and the capture the
// same run wrote itself with --pcap. tshark reads both through the dissector,
// and the fields it shows are checked in both; where nothing can put the
// packets in another order, the two captures must read the same.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/cli_test_support.h"
#include "tests/sim/raw_client.h"
#include "tests/support/child_process.h"

namespace {

using namespace clitest;

constexpr int kProgramWaitMs = 30000;  // dumpcap's start and stop, one tshark run
constexpr std::chrono::milliseconds kLateReplies{150};  // still on their way when a run ends
constexpr std::chrono::milliseconds kMarkerInterval{100};
constexpr std::uint16_t kDiscardPort = 9;  // where the end-of-capture marker goes

// One packet as tshark shows it: field name -> value, several values joined by ','.
using Row = std::map<std::string, std::string>;

const std::vector<std::string> kFields = {
    "frame.number", "ip.src", "ip.dst", "udp.srcport", "udp.dstport", "tcp.srcport", "tcp.dstport",
    "varnel.seq", "varnel.reply", "varnel.command", "varnel.count", "varnel.address", "varnel.echo",
    "varnel.word", "varnel.checksum", "varnel.checksum.good", "varnel.ack", "varnel.identity.revision",
    "varnel.identity.serial", "varnel.identity.hardware", "varnel.resend", "varnel.resend_of", "varnel.stale",
    "varnel.response_to", "varnel.response_in", "varnel.time", "tcp.segment",
    "varnel.expert.refused", "varnel.expert.wrong_echo", "varnel.expert.bad_length",
    "varnel.expert.bad_checksum", "varnel.expert.not_frame", "varnel.expert.resend", "varnel.expert.stale",
    "varnel.expert.unmatched", "varnel.expert.no_reply", "varnel.expert.wrong_command",
    "varnel.expert.split", "_ws.col.Info",
    // Checked in --pcap captures only: on the loopback interface the system
    // leaves checksums to hardware that is not there.
    "ip.checksum.status", "udp.checksum.status", "tcp.checksum.status", "tcp.analysis.flags"};
const std::vector<std::string> kFrameFields = {"varnel.resend_of", "varnel.response_to", "varnel.response_in"};
// What a --pcap capture's made-up headers must give: checksums that hold
// (status 1, or none), and TCP sequence numbers a reader follows without a
// complaint (no analysis flags).
const std::map<std::string, std::string> kMadeUpHeaders = {
    {"ip.checksum.status", "1"}, {"udp.checksum.status", "1"}, {"tcp.checksum.status", "1"},
    {"tcp.analysis.flags", ""}};

bool Executable(const char* path) { return *path != '\0' && ::access(path, X_OK) == 0; }

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.push_back("");
  return parts;
}

// Every packet of the capture that carries a loader frame, as tshark with the
// dissector shows it after both passes (so requests know their replies).
// `home` keeps a personal copy of the dissector out of the way.
// `checksums`: check the IP, UDP and TCP checksums (a datagram whose checksum
// fails is not passed on to the dissector).
std::vector<Row> ReadCapture(const std::string& capture, const std::string& home, bool checksums,
                             std::string& error) {
  std::vector<std::string> args = {"HOME=" + home, TOVRIN_TSHARK, "-2", "-n", "-r", capture,
                                   "-X", std::string("lua_script:") + TOVRIN_DISSECTOR,
                                   // An ICMP error quotes a datagram; it is not one.
                                   "-Y", "varnel && !icmp", "-T", "fields", "-E", "separator=/t",
                                   "-E", "occurrence=a", "-E", "aggregator=,"};
  for (const char* protocol : {"ip", "udp", "tcp"}) {
    args.push_back("-o");
    args.push_back(std::string(protocol) + ".check_checksum:" + (checksums ? "TRUE" : "FALSE"));
  }
  // Wireshark 4.0 leaves a segment that comes before the ones it follows out
  // of the stream unless told otherwise; tcp.desegment_tcp_streams is on.
  args.push_back("-o");
  args.push_back("tcp.reassemble_out_of_order:TRUE");
  for (const std::string& field : kFields) {
    args.push_back("-e");
    args.push_back(field);
  }
  ChildProcess tshark("/usr/bin/env", args);
  const int status = tshark.Wait(kProgramWaitMs);
  std::vector<Row> rows;
  if (status != 0 || tshark.Err().find("Lua") != std::string::npos) {
    error = "tshark exited with " + std::to_string(status) + ": " + tshark.Err();
    return rows;
  }
  for (const std::string& line : Split(tshark.Out(), '\n')) {
    if (line.empty()) continue;
    const std::vector<std::string> values = Split(line, '\t');
    Row row;
    for (std::size_t i = 0; i < kFields.size(); ++i) row[kFields[i]] = i < values.size() ? values[i] : "";
    rows.push_back(row);
  }
  return rows;
}

// A row that has every field `expected` names with the value given there
// ("*": any value at all).
bool HasRow(const std::vector<Row>& rows, const Row& expected) {
  for (const Row& row : rows) {
    bool all = true;
    for (const auto& [field, value] : expected) {
      const std::string& got = row.at(field);
      all = all && (value == "*" ? !got.empty() : got == value);
    }
    if (all) return true;
  }
  return false;
}

std::string Show(const Row& row) {
  std::string text;
  for (const auto& [field, value] : row) {
    if (!value.empty()) text += "  " + field + "=" + value + "\n";
  }
  return text;
}

// What two captures of one run share, a line per loader frame: its fields,
// the frames it refers to counted among the loader frames rather than the
// packets (a live capture also holds handshakes and bare acknowledgements), and
// no times, checks of the headers or segments a frame was put together from.
std::string Comparable(const std::vector<Row>& rows) {
  std::map<std::string, std::string> index;
  for (std::size_t i = 0; i < rows.size(); ++i) index[rows[i].at("frame.number")] = "#" + std::to_string(i);
  std::string out;
  for (Row row : rows) {
    row.erase("frame.number");
    row.erase("varnel.time");
    row.erase("tcp.segment");
    for (const auto& [field, good] : kMadeUpHeaders) row.erase(field);
    for (const std::string& field : kFrameFields) {
      std::string mapped;
      for (const std::string& number : Split(row[field], ',')) {
        mapped += (mapped.empty() ? "" : ",") + (index.count(number) ? index[number] : "?" + number);
      }
      row[field] = mapped;
    }
    for (const auto& [field, value] : row) {
      if (!value.empty()) out += field + "=" + value + " ";
    }
    out += "\n";
  }
  return out;
}

// dumpcap on the namespace's loopback interface. The system hands captured
// packets over in blocks, so dumpcap's word that it captures, and its file
// when it is stopped by a signal, may lack the latest: a marker datagram, sent
// until it shows in the file, says that the capture has begun, and that every
// packet before it is in.
class LiveCapture {
 public:
  explicit LiveCapture(const std::string& path)
      : path_(path), child_(TOVRIN_DUMPCAP, {"-i", "lo", "-P", "-w", path}) {}
  bool Start() {
    return child_.Started() &&
           child_.ReadUntil([this] { return child_.Err().find("Capturing on") != std::string::npos; },
                            kProgramWaitMs) &&
           Mark("start");
  }
  bool Stop() {
    const bool marked = Mark("end");
    child_.Signal(SIGINT);
    return child_.Wait(kProgramWaitMs) == 0 && marked;
  }
  std::string Diagnostics() const { return child_.Err(); }

 private:
  bool Mark(const std::string& what) {
    const std::string marker = "capture " + what + " " + std::to_string(::getpid());
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kDiscardPort);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kProgramWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
      const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      ::sendto(s, marker.data(), marker.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
      ::close(s);
      std::this_thread::sleep_for(kMarkerInterval);
      std::ifstream in(path_, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (bytes.find(marker) != std::string::npos) return true;
    }
    return false;
  }

  std::string path_;
  ChildProcess child_;
};

enum class Driver {
  kIdentity,   // tovrin-cli identity
  kProgram,    // tovrin-cli program
  kBatch,      // tovrin-cli batch of one board
  kRawClient,  // a client that waits for a whole read reply, however it is cut
};

struct Case {
  const char* name;
  bool tcp;
  SimFaults faults;
  Driver driver;
  int status;                  // tovrin-cli's
  std::vector<Row> expected;   // in the live capture and in --pcap's alike
  bool sameAsLive;             // nothing can reorder the packets or leave one unread
  // The live capture is read again with the split reply's first segment sent
  // again, overlapping the second, and the second after it: it must read the
  // same.
  bool resendSplitReply = false;
};

// Frames of the image: the identity stamp's at 0x00420, then 0x04000.
const Case kCases[] = {
    {"udp_lossy",
     false,
     SimFaults{.dropEveryNthUdpReply = 3, .duplicateReplies = true, .staleBeforeReply = true},
     Driver::kProgram,
     0,
     {{{"varnel.command", "0x70"}, {"varnel.reply", "0"}, {"varnel.count", "16"}, {"varnel.address", "0x00000420"},
       {"varnel.checksum.good", "1"}, {"varnel.response_in", "*"}, {"_ws.col.Info", "program 0x00420 16 words, seq 3"}},
      {{"varnel.resend", "1"}, {"varnel.resend_of", "*"}, {"varnel.expert.resend", "1"}},
      {{"varnel.stale", "1"}, {"varnel.expert.stale", "1"}},
      {{"varnel.command", "0x70"}, {"varnel.reply", "1"}, {"varnel.ack", "0x4f"}, {"varnel.echo", "0x00004000"},
       {"varnel.response_to", "*"}, {"varnel.time", "*"}, {"varnel.stale", ""}, {"_ws.col.Info", "ack, seq 4"}},
      {{"varnel.identity.hardware", "VR32"}, {"varnel.identity.revision", "B"}, {"varnel.identity.serial", "123456"},
       {"varnel.checksum.good", "1"}, {"varnel.response_to", "*"},
       {"_ws.col.Info", "read 0x00420 → VR32 B 123456, seq 1"}},
      {{"varnel.command", "0x6c"}, {"varnel.reply", "0"}, {"_ws.col.Info", "lock, seq 5"}}},
     false},
    {"udp_nak",
     false,
     SimFaults{.nakAtProgramFrame = 2},
     Driver::kProgram,
     4,
     {{{"varnel.reply", "1"}, {"varnel.ack", "0x4e"}, {"varnel.expert.refused", "1"}, {"varnel.response_to", "*"},
       {"_ws.col.Info", "NAK 0x4E, seq 4"}},
      {{"varnel.command", "0x65"}, {"varnel.reply", "1"}, {"varnel.ack", "0x4f"}, {"_ws.col.Info", "ack, seq 2"}}},
     true},
    {"udp_wrong_echo_batch",
     false,
     SimFaults{.wrongEchoAtProgramFrame = 1},
     Driver::kBatch,
     4,
     {{{"varnel.reply", "1"}, {"varnel.echo", "0x00000424"}, {"varnel.expert.wrong_echo", "1"},
       {"_ws.col.Info", "ack, echo 0x00424, seq 3"}}},
     true},
    {"udp_bad_read_checksum",
     false,
     SimFaults{.badReadChecksum = true},
     Driver::kIdentity,
     11,
     {{{"varnel.reply", "1"}, {"varnel.seq", "1"}, {"varnel.checksum.good", "0"}, {"varnel.expert.bad_checksum", "1"},
       {"_ws.col.Info", "read 0x00420 → VR32 B 123456, bad checksum, seq 1"}}},
     true},
    {"udp_read_claims_more",
     false,
     SimFaults{.readClaimsMoreWords = true},
     Driver::kIdentity,
     11,
     {{{"varnel.reply", "1"}, {"varnel.count", "5"}, {"varnel.expert.bad_length", "1"},
       {"_ws.col.Info", "read 0x00420 → VR32 B 123456, 27 bytes (31 expected), seq 1"}}},
     true},
    {"tcp_wrong_echo",
     true,
     SimFaults{.wrongEchoAtProgramFrame = 2},
     Driver::kProgram,
     4,
     {{{"tcp.srcport", "1234"}, {"varnel.reply", "1"}, {"varnel.echo", "0x00004004"},
       {"varnel.expert.wrong_echo", "1"}, {"varnel.response_to", "*"}, {"_ws.col.Info", "ack, echo 0x04004"}},
      {{"tcp.dstport", "1234"}, {"varnel.command", "0x65"}, {"varnel.response_in", "*"}, {"_ws.col.Info", "erase"}},
      {{"varnel.identity.serial", "123456"}, {"varnel.checksum.good", "1"}, {"varnel.response_to", "*"}}},
     true},
    {"tcp_read_claims_more",
     true,
     SimFaults{.readClaimsMoreWords = true},
     Driver::kIdentity,
     11,
     {{{"varnel.reply", "1"}, {"varnel.count", "5"}, {"varnel.expert.bad_length", "1"}, {"varnel.response_to", "*"},
       {"_ws.col.Info", "read 0x00420 → VR32 B 123456, 27 bytes (31 expected)"}}},
     true},
    {"tcp_split_reply",
     true,
     SimFaults{.splitTcpReplies = true},
     Driver::kRawClient,
     0,
     {{{"varnel.reply", "1"}, {"tcp.segment", "*"}, {"varnel.expert.split", "1"},
       {"varnel.identity.serial", "123456"}, {"varnel.checksum.good", "1"}, {"varnel.response_to", "*"},
       {"varnel.expert.bad_length", ""}, {"_ws.col.Info", "read 0x00420 → VR32 B 123456"}},
      {{"varnel.reply", "0"}, {"varnel.response_in", "*"}, {"_ws.col.Info", "read 0x00420 4 words"}}},
     false},
    {"tcp_split_reply_resent",
     true,
     SimFaults{.splitTcpReplies = true},
     Driver::kRawClient,
     0,
     {{{"varnel.reply", "1"}, {"varnel.identity.serial", "123456"}, {"varnel.response_to", "*"}}},
     false,
     true},
};

// Runs the case's driver against the board; the status tovrin-cli exits with.
int Drive(const Case& c, const TempFiles& files, const std::string& image, const std::string& pcap) {
  const std::string board = "127.0.0.1";
  switch (c.driver) {
    case Driver::kIdentity: return Cli({"--board", board, "identity", "--pcap", pcap}).status;
    case Driver::kProgram:
      return Cli({"--board", board, "program", image, "--serial", "SN0042", "--pcap", pcap}).status;
    case Driver::kBatch:
      return Cli({"--board", board, "batch", image, "--serial-from", "SN0001", "--state", files.Path("line.state"),
                  "--log", files.Path("line.jsonl"), "--count", "1", "--pcap", pcap})
          .status;
    case Driver::kRawClient: {
      simtest::Tcp client;
      client.Send(simtest::ReadFrame(0x420));
      return client.Receive(27).size() == 27 ? 0 : 1;
    }
  }
  return -1;
}

// Copies a live capture (pcap, Ethernet on the loopback interface) with the
// split read reply's two segments, first | second, made first | first and 5
// bytes of the second | the rest of the second: a resend that overlaps what
// follows, as a sender that gathered more before resending makes. False when
// the capture holds no such reply.
bool ResendSplitReply(const std::string& from, const std::string& to) {
  constexpr std::size_t kFileHeader = 24, kRecordHeader = 16, kEthernet = 14, kOverlap = 5;
  constexpr std::size_t kReadReply = 27;  // read 0x420, 4 words
  std::ifstream in(from, std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto u8 = [](const std::string& b, std::size_t at) { return static_cast<std::uint8_t>(b[at]); };
  auto le32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(u8(file, at) | u8(file, at + 1) << 8 | u8(file, at + 2) << 16) |
           static_cast<std::uint32_t>(u8(file, at + 3)) << 24;
  };
  if (file.size() < kFileHeader || le32(20) != 1) return false;  // LINKTYPE_ETHERNET
  struct Packet {
    std::string header, data;
    std::size_t tcp = 0, payload = 0;  // where the TCP header and its payload start in data
  };
  std::vector<Packet> packets;
  for (std::size_t at = kFileHeader; at + kRecordHeader <= file.size();) {
    const std::uint32_t size = le32(at + 8);
    packets.push_back({file.substr(at, kRecordHeader), file.substr(at + kRecordHeader, size)});
    at += kRecordHeader + size;
  }
  // The board's segments: IPv4, TCP from port 1234, with a payload.
  auto boardPayload = [&](Packet& p) {
    const std::string& d = p.data;
    if (d.size() < kEthernet + 40 || u8(d, 12) != 0x08 || u8(d, 13) != 0 || u8(d, kEthernet + 9) != 6) return false;
    p.tcp = kEthernet + 4 * (u8(d, kEthernet) & 0x0F);
    if (d.size() < p.tcp + 20 || (u8(d, p.tcp) << 8 | u8(d, p.tcp + 1)) != 1234) return false;
    p.payload = p.tcp + 4 * (u8(d, p.tcp + 12) >> 4);
    return p.payload < d.size();
  };
  auto resize = [&](Packet& p, const std::string& data) {
    p.data = data;
    const std::size_t total = data.size() - kEthernet;
    p.data[kEthernet + 2] = static_cast<char>(total >> 8);
    p.data[kEthernet + 3] = static_cast<char>(total & 0xFF);
    for (std::size_t i : {8u, 12u}) {  // captured and original lengths
      for (std::size_t b = 0; b < 4; ++b) p.header[i + b] = static_cast<char>(data.size() >> (8 * b));
    }
  };
  for (std::size_t i = 0; i + 1 < packets.size(); ++i) {
    Packet& first = packets[i];
    if (!boardPayload(first) || first.data.size() - first.payload >= kReadReply ||
        first.data.compare(first.payload, 2, "\x66\x75") != 0) {
      continue;
    }
    for (std::size_t j = i + 1; j < packets.size(); ++j) {
      Packet& second = packets[j];
      if (!boardPayload(second)) continue;
      if (second.data.size() - second.payload <= kOverlap) return false;
      Packet again = first;
      resize(again, first.data + second.data.substr(second.payload, kOverlap));
      const std::size_t seq = second.tcp + 4;  // the TCP header's sequence number
      std::uint32_t number = 0;
      for (std::size_t b = 0; b < 4; ++b) number = number << 8 | u8(second.data, seq + b);
      number += kOverlap;
      std::string rest = second.data;
      rest.erase(second.payload, kOverlap);
      for (std::size_t b = 0; b < 4; ++b) rest[seq + b] = static_cast<char>(number >> (24 - 8 * b));
      resize(second, rest);
      packets.insert(packets.begin() + static_cast<std::ptrdiff_t>(j), again);
      std::string out = file.substr(0, kFileHeader);
      for (const Packet& p : packets) out += p.header + p.data;
      std::ofstream(to, std::ios::binary) << out;
      return true;
    }
  }
  return false;
}

TEST(Dissector, ShowsFieldsAndExpertInfoOfFaultyRunsLiveAndFromPcap) {
  if (!Executable(TOVRIN_TSHARK) || !Executable(TOVRIN_DUMPCAP)) {
    GTEST_SKIP() << "tshark and dumpcap (Debian: tshark) are needed to read and make captures";
  }
  TempFiles files("dissector");
  const std::string image = files.Write("image.s19", S19({{0x4000, Pattern(64, 1)}}));
  const std::string home = files.Path("home");
  // A copy in Wireshark's global plugins folder loads first, and would be the
  // one under test.
  ChildProcess plugins("/usr/bin/env", {"HOME=" + home, TOVRIN_TSHARK, "-G", "plugins"});
  ASSERT_EQ(plugins.Wait(kProgramWaitMs), 0) << plugins.Err();
  ASSERT_EQ(plugins.Out().find("varnel"), std::string::npos)
      << "an installed dissector would be read in place of " << TOVRIN_DISSECTOR << ":\n" << plugins.Out();

  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string livePath = files.Path(std::string(c.name) + ".live.pcap");
    const std::string pcapPath = files.Path(std::string(c.name) + ".pcap");
    SimOptions options = c.tcp ? TcpBoard() : UdpBoard();
    options.faults = c.faults;
    LiveCapture live(livePath);
    ASSERT_TRUE(live.Start()) << live.Diagnostics();
    {
      SimBoard sim;
      START_SIM(sim, options);
      EXPECT_EQ(Drive(c, files, image, pcapPath), c.status);
      std::this_thread::sleep_for(kLateReplies);
    }
    ASSERT_TRUE(live.Stop()) << live.Diagnostics();

    std::string error;
    const std::vector<Row> liveRows = ReadCapture(livePath, home, false, error);
    ASSERT_TRUE(error.empty()) << error;
    std::vector<const std::vector<Row>*> captures = {&liveRows};
    std::vector<Row> pcapRows;
    if (c.driver != Driver::kRawClient) {
      pcapRows = ReadCapture(pcapPath, home, true, error);
      ASSERT_TRUE(error.empty()) << error;
      captures.push_back(&pcapRows);
      for (const Row& row : pcapRows) {
        for (const auto& [field, good] : kMadeUpHeaders) {
          EXPECT_TRUE(row.at(field).empty() || row.at(field) == good) << field << " in --pcap\n" << Show(row);
        }
      }
    }
    for (const std::vector<Row>* rows : captures) {
      const char* which = rows == &liveRows ? "live capture" : "--pcap capture";
      for (const Row& expected : c.expected) {
        EXPECT_TRUE(HasRow(*rows, expected)) << which << " has no row with\n" << Show(expected);
      }
    }
    if (c.sameAsLive) {
      EXPECT_EQ(Comparable(pcapRows), Comparable(liveRows));
    }
    if (c.resendSplitReply) {
      const std::string resentPath = files.Path(std::string(c.name) + ".resent.pcap");
      ASSERT_TRUE(ResendSplitReply(livePath, resentPath)) << "no split read reply in the live capture";
      const std::vector<Row> resentRows = ReadCapture(resentPath, home, false, error);
      ASSERT_TRUE(error.empty()) << error;
      EXPECT_EQ(Comparable(resentRows), Comparable(liveRows));
    }
  }
}

// Packets of other protocols on the loader's ports, in a capture made here
// (raw IPv4): an mDNS query from port 1234, a video stream's datagram to port
// 1234, HTTP on TCP port 1234, a TCP segment that continues no frame. The
// dissector hands each back to Wireshark; only the loader's read request
// among them is its.
std::string Ipv4(std::uint8_t protocol, std::uint32_t src, std::uint32_t dst, const std::string& payload) {
  std::string ip(20, '\0');
  const std::size_t total = ip.size() + payload.size();
  ip[0] = 0x45;
  ip[2] = static_cast<char>(total >> 8);
  ip[3] = static_cast<char>(total & 0xFF);
  ip[8] = 64;
  ip[9] = static_cast<char>(protocol);
  for (int i = 0; i < 4; ++i) {
    ip[12 + i] = static_cast<char>(src >> (24 - 8 * i));
    ip[16 + i] = static_cast<char>(dst >> (24 - 8 * i));
  }
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < ip.size(); i += 2) {
    sum += static_cast<std::uint32_t>(static_cast<std::uint8_t>(ip[i]) << 8 | static_cast<std::uint8_t>(ip[i + 1]));
  }
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  ip[10] = static_cast<char>(~sum >> 8 & 0xFF);
  ip[11] = static_cast<char>(~sum & 0xFF);
  return ip + payload;
}

std::string Port(std::uint16_t port) { return {static_cast<char>(port >> 8), static_cast<char>(port & 0xFF)}; }

std::string Udp(std::uint16_t src, std::uint16_t dst, const std::string& data) {
  const auto length = static_cast<std::uint16_t>(8 + data.size());
  return Port(src) + Port(dst) + Port(length) + std::string(2, '\0') + data;
}

std::string Tcp(std::uint16_t src, std::uint16_t dst, std::uint32_t seq, const std::string& data) {
  std::string h = Port(src) + Port(dst);
  for (int i = 0; i < 4; ++i) h += static_cast<char>(seq >> (24 - 8 * i));
  h += std::string(4, '\0');                                          // ack
  h += std::string{0x50, 0x18} + Port(0xFFFF) + std::string(4, '\0');  // header length 20, PSH ACK, window
  return h + data;
}

void WritePcap(const std::string& path, const std::vector<std::string>& packets) {
  auto le32 = [](std::uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
  };
  constexpr std::uint32_t kRawIpv4 = 101;  // LINKTYPE_RAW
  std::string file = le32(0xA1B2C3D4) + std::string{2, 0, 4, 0} + le32(0) + le32(0) + le32(65535) + le32(kRawIpv4);
  std::uint32_t second = 1;
  for (const std::string& p : packets) {
    const auto size = static_cast<std::uint32_t>(p.size());
    file += le32(second++) + le32(0) + le32(size) + le32(size) + p;
  }
  std::ofstream(path, std::ios::binary) << file;
}

TEST(Dissector, ClaimsOnlyLoaderFramesOnItsPorts) {
  if (!Executable(TOVRIN_TSHARK)) GTEST_SKIP() << "tshark (Debian: tshark) is needed to read captures";
  TempFiles files("dissector_others");
  constexpr std::uint32_t kTool = 0x0A000001, kBoard = 0x0A000002, kMdns = 0xE00000FB;
  const std::string mdnsQuery = std::string{0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0} + "\x05_http\x04_tcp\x05local" +
                                std::string{0, 0, 12, 0, 1};
  const std::string readRequest = std::string{1, 0x66, 0x75, 4, 0, 0, 4, 0x20};  // sequence 1, read 0x420
  const std::string path = files.Path("others.pcap");
  WritePcap(path, {Ipv4(17, kTool, kMdns, Udp(1234, 5353, mdnsQuery)),
                   Ipv4(17, kTool, kBoard, Udp(40000, 1234, std::string(1316, '\x47'))),
                   Ipv4(6, kTool, kBoard, Tcp(40001, 1234, 1, "GET / HTTP/1.1\r\nHost: board\r\n\r\n")),
                   Ipv4(6, kTool, kBoard, Tcp(40002, 1234, 1, "\x01\x02\x03")),
                   Ipv4(17, kTool, kBoard, Udp(1234, 1235, readRequest))});
  std::string error;
  const std::vector<Row> rows = ReadCapture(path, files.Path("home"), false, error);
  ASSERT_TRUE(error.empty()) << error;
  ASSERT_EQ(rows.size(), 1u) << (rows.empty() ? std::string() : Show(rows[0]));
  EXPECT_EQ(rows[0].at("frame.number"), "5");
  EXPECT_EQ(rows[0].at("varnel.command"), "0x75");
}

}  // namespace
