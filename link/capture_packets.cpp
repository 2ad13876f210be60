#include "link/capture_packets.h"

namespace {

// The file and record headers are little-endian (the magic number tells a
// reader so); the packets inside are in network order.
void PutLe16(CaptureBytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutLe32(CaptureBytes& out, std::uint32_t value) {
  PutLe16(out, static_cast<std::uint16_t>(value));
  PutLe16(out, static_cast<std::uint16_t>(value >> 16));
}

void PutBe16(CaptureBytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

void PutBe32(CaptureBytes& out, std::uint32_t value) {
  PutBe16(out, static_cast<std::uint16_t>(value >> 16));
  PutBe16(out, static_cast<std::uint16_t>(value));
}

void SetBe16(CaptureBytes& out, std::size_t at, std::uint16_t value) {
  out[at] = static_cast<std::uint8_t>(value >> 8);
  out[at + 1] = static_cast<std::uint8_t>(value);
}

// The Internet checksum's running sum of 16-bit words; an odd byte at the end
// counts as the high half of a word.
std::uint32_t SumWords(std::uint32_t sum, const std::uint8_t* bytes, std::size_t length) {
  for (std::size_t i = 0; i + 1 < length; i += 2) sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
  if (length % 2 != 0) sum += static_cast<std::uint32_t>(bytes[length - 1] << 8);
  return sum;
}

std::uint16_t FoldChecksum(std::uint32_t sum) {
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

// Record header and IPv4 header for a packet whose transport part (header and
// payload) is `transportLength` bytes; the caller appends that part.
CaptureBytes StartRecord(const CapturedPacket& p, std::uint8_t protocol, int transportLength) {
  const int ipLength = capture::kIpHeaderLength + transportLength;
  CaptureBytes out;
  out.reserve(static_cast<std::size_t>(capture::kRecordHeaderLength + ipLength));
  PutLe32(out, static_cast<std::uint32_t>(p.timeUs / capture::kMicrosecondsPerSecond));
  PutLe32(out, static_cast<std::uint32_t>(p.timeUs % capture::kMicrosecondsPerSecond));
  PutLe32(out, static_cast<std::uint32_t>(ipLength));  // bytes kept
  PutLe32(out, static_cast<std::uint32_t>(ipLength));  // bytes on the wire

  const std::size_t ip = out.size();
  out.push_back(0x45);  // version 4, five words of header
  out.push_back(0);     // no service class
  PutBe16(out, static_cast<std::uint16_t>(ipLength));
  PutBe16(out, p.ipId);
  PutBe16(out, capture::kDontFragment);
  out.push_back(capture::kTimeToLive);
  out.push_back(protocol);
  PutBe16(out, 0);  // checksum, below
  PutBe32(out, p.from.address);
  PutBe32(out, p.to.address);
  SetBe16(out, ip + 10, FoldChecksum(SumWords(0, out.data() + ip, capture::kIpHeaderLength)));
  return out;
}

// The UDP or TCP checksum covers a pseudo-header of addresses, protocol and
// length, then the transport header and payload that start at `at`.
void SetTransportChecksum(CaptureBytes& out, std::size_t at, std::size_t checksumAt, const CapturedPacket& p,
                          std::uint8_t protocol) {
  const std::size_t length = out.size() - at;
  std::uint32_t sum = (p.from.address >> 16) + (p.from.address & 0xFFFF) + (p.to.address >> 16) +
                      (p.to.address & 0xFFFF) + protocol + static_cast<std::uint32_t>(length);
  sum = SumWords(sum, out.data() + at, length);
  std::uint16_t checksum = FoldChecksum(sum);
  // In UDP a computed 0 is sent as all ones; 0 there means "no checksum".
  if (protocol == capture::kProtocolUdp && checksum == 0) checksum = 0xFFFF;
  SetBe16(out, checksumAt, checksum);
}

}  // namespace

CaptureBytes CaptureFileHeader() {
  CaptureBytes out;
  PutLe32(out, capture::kMagicMicroseconds);
  PutLe16(out, capture::kVersionMajor);
  PutLe16(out, capture::kVersionMinor);
  PutLe32(out, 0);  // time stamps are UTC
  PutLe32(out, 0);  // their accuracy, unstated as everyone does
  PutLe32(out, capture::kSnapLength);
  PutLe32(out, capture::kLinkTypeRaw);
  return out;
}

CaptureBytes UdpRecord(const CapturedPacket& p, const std::uint8_t* payload, int length) {
  const int udpLength = capture::kUdpHeaderLength + length;
  CaptureBytes out = StartRecord(p, capture::kProtocolUdp, udpLength);
  const std::size_t udp = out.size();
  PutBe16(out, p.from.port);
  PutBe16(out, p.to.port);
  PutBe16(out, static_cast<std::uint16_t>(udpLength));
  PutBe16(out, 0);  // checksum, below
  if (length > 0) out.insert(out.end(), payload, payload + length);
  SetTransportChecksum(out, udp, udp + 6, p, capture::kProtocolUdp);
  return out;
}

CaptureBytes TcpRecord(const CapturedPacket& p, const TcpSegmentHeader& tcp, const std::uint8_t* payload,
                       int length) {
  CaptureBytes out = StartRecord(p, capture::kProtocolTcp, capture::kTcpHeaderLength + length);
  const std::size_t at = out.size();
  PutBe16(out, p.from.port);
  PutBe16(out, p.to.port);
  PutBe32(out, tcp.sequence);
  PutBe32(out, tcp.acknowledgement);
  out.push_back(static_cast<std::uint8_t>((capture::kTcpHeaderLength / 4) << 4));
  out.push_back(tcp.flags);
  PutBe16(out, capture::kTcpWindow);
  PutBe16(out, 0);  // checksum, below
  PutBe16(out, 0);  // no urgent data
  if (length > 0) out.insert(out.end(), payload, payload + length);
  SetTransportChecksum(out, at, at + 16, p, capture::kProtocolTcp);
  return out;
}
