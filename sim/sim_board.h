#pragma once

// A simulated Varnel board: the resident loader's four commands over UDP and
// TCP, a 128 KiB flash behind them, and faults injected on request. Tests start
// it in-process (SimBoard) or as the varnel-sim program; the window's demo runs
// against it. It shares no code with the tool, so a mistake in the tool's frames
// is not mirrored here.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct SimFaults {
  int dropEveryNthUdpReply = 0;     // 0: none; N: the Nth, 2Nth, ... UDP reply is not sent
  bool duplicateReplies = false;    // every reply is sent twice (UDP: a stale reply for the next exchange)
  bool staleBeforeReply = false;    // UDP: a datagram with a wrong sequence byte precedes each reply
  bool foreignBeforeReply = false;  // UDP: a copy of each reply is first sent from foreignAddress
  std::string foreignAddress = "127.0.0.2";
  int replyDelayMs = 0;             // every reply waits this long
  int eraseDelayMs = 0;             // the erase reply waits this long (a slow erase)
  bool eraseNak = false;            // erase acknowledged with a byte other than 0x4F
  bool lockNak = false;
  // Program frames are counted from 1 since the last accepted erase, refused ones
  // included; a UDP resend of the same frame is not a new one.
  int nakAtProgramFrame = 0;        // k >= 1: the k-th program frame is refused (not written)
  int wrongEchoAtProgramFrame = 0;  // k >= 1: the k-th program frame's reply echoes another address
  int silentAfterProgramFrames = -1;  // k >= 0: after k program frames, no reply to anything
                                      // (0: silent from the start); it lasts until the board stops
  bool badReadChecksum = false;
  bool readClaimsMoreWords = false;   // count byte says 5, the reply carries 4 words
  int readCount = 4;                  // words in a read reply; below 4 gives a short reply
                                      // (4: as many as the request asks for, at most 29)
  bool splitTcpReplies = false;       // each TCP reply goes out as two segments, a pause apart
};

struct SimEvent;

struct SimOptions {
  std::string bindAddress = "127.0.0.1";
  bool udp = true;                  // answer on UDP port udpPort
  bool tcp = true;                  // listen on TCP port tcpPort
  std::uint16_t udpPort = 1235;
  std::uint16_t tcpPort = 1234;
  // The identity record at 0x420 that the flash starts with.
  char revision = 'B';
  std::string serial = "123456";
  std::string hardware = "VR32";
  std::string flashFile;            // written on every lock and when the board stops; empty: none
  int timeLimitSeconds = 600;       // the board stops by itself after this long
  SimFaults faults;
  // Called on the board's thread after each command is carried out, before its
  // reply is sent; empty: none. Used by varnel-sim to print a line per command.
  std::function<void(const SimEvent&)> onEvent;
};

// One command as the board received and carried it out, in arrival order.
struct SimEvent {
  char command;             // 'u' read, 'e' erase, 'p' program, 'l' lock, '?' anything else
  bool udp;
  std::uint8_t sequence;    // UDP only
  std::uint32_t address;    // read and program
  bool accepted;            // the board acknowledged it (program: wrote the frame)
  bool repeat = false;      // UDP: the previous request again (same sequence byte and bytes)
  bool replied = false;     // a reply was made (faults may still drop or delay it)
};

class SimBoard {
 public:
  SimBoard();
  ~SimBoard();  // stops the board
  SimBoard(const SimBoard&) = delete;
  SimBoard& operator=(const SimBoard&) = delete;

  // Binds and starts answering on a thread of its own; false (with a reason in
  // Error()) when a socket cannot be bound.
  bool Start(const SimOptions& options);
  void Stop();
  std::string Error() const;

  // What the board holds and has seen. Safe to call while it runs.
  std::vector<std::uint8_t> Flash() const;  // 0x20000 bytes
  std::vector<SimEvent> Events() const;
  int ProgramFramesWritten() const;         // distinct accepted program frames since the last erase
  bool Locked() const;                      // lock received and acknowledged since the last erase

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The varnel-sim program: parses the options in argv (see its --help), starts the
// board, prints "ready" once it listens, and runs until its time limit, SIGINT or
// SIGTERM. Returns the process exit status.
int RunSimMain(int argc, char** argv);
