#pragma once

// The bytes of a classic capture file ("pcap", microsecond time stamps) as pure
// functions: the file header, and one record per packet holding an IPv4 packet
// with a UDP or TCP header around the link's bytes. The link sees only what it
// sends and receives, so the headers are made up from the endpoints, with
// correct lengths and checksums, so that a capture reader takes them as it takes
// packets from the wire.

#include <cstdint>
#include <vector>

#include "os/socket.h"

namespace capture {
constexpr std::uint32_t kMagicMicroseconds = 0xA1B2C3D4;
constexpr std::uint16_t kVersionMajor = 2;
constexpr std::uint16_t kVersionMinor = 4;
constexpr std::uint32_t kSnapLength = 65535;  // bytes kept of a packet; every link packet is shorter
constexpr std::uint32_t kLinkTypeRaw = 101;   // each record starts with its IPv4 header
constexpr int kFileHeaderLength = 24;
constexpr int kRecordHeaderLength = 16;
constexpr int kIpHeaderLength = 20;
constexpr int kUdpHeaderLength = 8;
constexpr int kTcpHeaderLength = 20;
constexpr std::uint8_t kProtocolTcp = 6;
constexpr std::uint8_t kProtocolUdp = 17;
constexpr std::uint8_t kTimeToLive = 64;
constexpr std::uint16_t kDontFragment = 0x4000;
constexpr std::uint16_t kTcpWindow = 65535;
constexpr std::int64_t kMicrosecondsPerSecond = 1000000;
// TCP flags.
constexpr std::uint8_t kFin = 0x01;
constexpr std::uint8_t kSyn = 0x02;
constexpr std::uint8_t kPush = 0x08;
constexpr std::uint8_t kAck = 0x10;
}  // namespace capture

using CaptureBytes = std::vector<std::uint8_t>;

// A packet's place: when, from where to where, and its IPv4 identification.
struct CapturedPacket {
  std::int64_t timeUs = 0;  // microseconds since 1970-01-01 UTC
  Endpoint from;
  Endpoint to;
  std::uint16_t ipId = 0;
};

struct TcpSegmentHeader {
  std::uint32_t sequence = 0;
  std::uint32_t acknowledgement = 0;
  std::uint8_t flags = 0;
};

CaptureBytes CaptureFileHeader();

// One record: time stamp, lengths, then the IPv4 packet carrying `length` bytes
// of payload (which may be null when length is 0).
CaptureBytes UdpRecord(const CapturedPacket& packet, const std::uint8_t* payload, int length);
CaptureBytes TcpRecord(const CapturedPacket& packet, const TcpSegmentHeader& tcp, const std::uint8_t* payload,
                       int length);
