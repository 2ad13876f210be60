#include "link/pcap_writer.h"

#include <cerrno>
#include <cstring>

#include "os/files.h"
#include "os/host.h"
#include "os/socket.h"

namespace {

// The initial sequence numbers of the made-up handshake; a reader shows them
// relative, so any will do.
constexpr std::uint32_t kToolFirstSequence = 1000;
constexpr std::uint32_t kBoardFirstSequence = 5000;

bool SameEndpoint(const Endpoint& a, const Endpoint& b) { return a.address == b.address && a.port == b.port; }

bool Sent(LinkTraceEvent::Kind kind) { return kind == LinkTraceEvent::kRequest || kind == LinkTraceEvent::kResend; }

}  // namespace

bool PcapWriter::Open(const std::string& path, std::string& error) {
  file_.reset(CreateFileForWriting(path));
  if (!file_) {
    error = "Cannot open the capture " + path + ": " + std::strerror(errno);
    return false;
  }
  path_ = path;
  error_.clear();
  streams_.clear();
  // The time of day is read once; the steps between packets come from the
  // monotonic clock, exact to the microsecond on every system.
  wallStartUs_ = WallClockUs();
  monotonicStartUs_ = MonotonicUs();
  Write(CaptureFileHeader());
  if (Failed()) {
    error = "Cannot write the capture " + path + ": " + error_;
    file_.reset();
    return false;
  }
  return true;
}

void PcapWriter::Write(const CaptureBytes& bytes) {
  if (!file_ || Failed()) return;
  // A run that ends in a crash or a kill still leaves every packet before it.
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size() || std::fflush(file_.get()) != 0) {
    const std::string reason = std::strerror(errno);
    std::lock_guard lock(mutex_);
    error_ = reason;
  }
}

CapturedPacket PcapWriter::Packet(const Endpoint& from, const Endpoint& to) {
  CapturedPacket p;
  p.timeUs = wallStartUs_ + (MonotonicUs() - monotonicStartUs_);
  p.from = from;
  p.to = to;
  p.ipId = nextIpId_++;
  return p;
}

PcapWriter::TcpStream& PcapWriter::Stream(const Endpoint& tool, const Endpoint& board) {
  for (TcpStream& s : streams_) {
    if (SameEndpoint(s.tool, tool) && SameEndpoint(s.board, board)) return s;
  }
  // A connection met for the first time: its handshake, as a reader expects
  // to see before the first byte.
  TcpStream s{tool, board, kToolFirstSequence, kBoardFirstSequence};
  Write(TcpRecord(Packet(tool, board), {s.toolNext, 0, capture::kSyn}, nullptr, 0));
  Write(TcpRecord(Packet(board, tool), {s.boardNext, s.toolNext + 1, capture::kSyn | capture::kAck}, nullptr, 0));
  ++s.toolNext;
  ++s.boardNext;
  Write(TcpRecord(Packet(tool, board), {s.toolNext, s.boardNext, capture::kAck}, nullptr, 0));
  streams_.push_back(s);
  return streams_.back();
}

void PcapWriter::Trace(const LinkTraceEvent& e) {
  if (!file_ || Failed() || e.kind == LinkTraceEvent::kTimeout || e.bytes == nullptr || e.length < 0) return;
  const bool sent = Sent(e.kind);
  const Endpoint& from = sent ? e.local : e.remote;
  const Endpoint& to = sent ? e.remote : e.local;
  if (e.mode != LinkMode::kTcp) {
    Write(UdpRecord(Packet(from, to), e.bytes, e.length));
    return;
  }
  TcpStream& s = Stream(e.local, e.remote);
  const auto length = static_cast<std::uint32_t>(e.length);
  if (sent) {
    Write(TcpRecord(Packet(from, to), {s.toolNext, s.boardNext, capture::kPush | capture::kAck}, e.bytes, e.length));
    s.toolNext += length;
  } else if (length == 0) {
    // A receive of nothing: the board closed its end.
    Write(TcpRecord(Packet(from, to), {s.boardNext, s.toolNext, capture::kFin | capture::kAck}, nullptr, 0));
    s.boardNext += 1;
  } else {
    Write(TcpRecord(Packet(from, to), {s.boardNext, s.toolNext, capture::kPush | capture::kAck}, e.bytes, e.length));
    s.boardNext += length;
  }
}
