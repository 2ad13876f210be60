#pragma once

// A capture of the link's own traffic, for an engineer whose PC has no capture
// driver: every datagram or TCP segment the link sends or receives becomes one
// packet of a classic pcap file, with the real addresses and ports and the time
// it was sent or taken, which Wireshark and tshark open as a live capture.
// Datagrams the link passed over (stale, too short, from another address) are
// in it too, since a capture on the wire would hold them; time-outs are not
// packets and leave nothing. A TCP connection starts with a made-up handshake
// at its first segment, and its sequence numbers count the bytes written, so a
// reader follows the stream; what the link received in one receive is one
// segment.
//
// Each packet is flushed as it is written, so a run that dies leaves a readable
// file. A write that fails stops the capture and is kept for the caller.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/capture_packets.h"
#include "link/link.h"

class PcapWriter : public LinkObserver {
 public:
  PcapWriter() = default;
  PcapWriter(const PcapWriter&) = delete;
  PcapWriter& operator=(const PcapWriter&) = delete;

  // Truncates or creates the file and writes its header; false with the reason
  // in error.
  bool Open(const std::string& path, std::string& error);

  void Trace(const LinkTraceEvent& event) override;

  // Whether every packet so far went into the file; when not, the system's
  // reason the first one did not (nothing more is written after it). Safe to
  // ask from another thread than the one whose link it watches.
  bool Failed() const {
    std::lock_guard lock(mutex_);
    return !error_.empty();
  }
  std::string Error() const {
    std::lock_guard lock(mutex_);
    return error_;
  }

 private:
  struct TcpStream {
    Endpoint tool;
    Endpoint board;
    std::uint32_t toolNext;   // the sequence number of the tool's next byte
    std::uint32_t boardNext;  // and of the board's
  };
  struct CloseFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };

  void Write(const CaptureBytes& bytes);
  CapturedPacket Packet(const Endpoint& from, const Endpoint& to);
  TcpStream& Stream(const Endpoint& tool, const Endpoint& board);

  std::unique_ptr<std::FILE, CloseFile> file_;
  std::string path_;
  mutable std::mutex mutex_;  // guards error_ against a reader on another thread
  std::string error_;
  std::int64_t wallStartUs_ = 0;  // the time of day when the file was opened
  std::int64_t monotonicStartUs_ = 0;
  std::uint16_t nextIpId_ = 1;
  std::vector<TcpStream> streams_;
};
