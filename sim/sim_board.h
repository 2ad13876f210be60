#pragma once

// A simulated Varnel board: the resident loader's four commands over UDP and
// TCP, a 128 KiB flash behind them, and faults injected on request. Tests start
// it in-process (SimBoard) or as the varnel-sim program; the window's demo runs
// against it. It shares no code with the tool, so a mistake in the tool's frames
// is not mirrored here.
//
// Reads: the read command answers at any address, so that a tool can read back
// every frame it wrote. The reply carries as many words as the request's count
// byte asks for, cut to 29 (the most a 128-byte reply holds); a count of 0 gives
// a reply with no words. Bytes at or beyond 0x20000 read as erased (0xFF), so a
// read that runs past the end of the flash, or starts there, is answered, never
// refused; the address field echoes the request's address as it came.
//
// A production line (lineBoards >= 1): boards 1..N answer in turn, each with the
// identity record of a board fresh from the factory and a serial number of its
// own (see BoardSerial in sim_flash.h). Once a board's lock is acknowledged it
// resets: it answers nothing over UDP, refuses new TCP connections and ignores
// requests on the open one, for resetSilenceMs. Then the open connection is
// closed and the next board answers. After the last board's silence the line
// stays silent until the board stops.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

constexpr std::size_t kSimEventsKept = 100000;  // the event record keeps the most recent ones
constexpr int kMaxLineBoards = 100;              // each board's flash (128 KiB) is kept to the end
constexpr int kDefaultResetSilenceMs = 3000;     // a board of the line, from its lock to the next board

struct SimFaults {
  int dropEveryNthUdpReply = 0;     // 0: none; N: the Nth, 2Nth, ... UDP reply is not sent
  bool duplicateReplies = false;    // every reply is sent twice (UDP: a stale reply for the next exchange)
  bool staleBeforeReply = false;    // UDP: a datagram with a wrong sequence byte precedes each reply
  bool foreignBeforeReply = false;  // UDP: a copy of each reply is first sent from foreignAddress
  std::string foreignAddress = "127.0.0.2";
  int replyDelayMs = 0;             // every reply waits this long
  int eraseDelayMs = 0;             // the erase reply waits this long (a slow erase)
  bool eraseNak = false;            // erase acknowledged with a byte other than 0x4F
  bool eraseIgnored = false;        // erase acknowledged, but the flash keeps what it held
  bool lockNak = false;
  // Program frames are counted from 1 since the last accepted erase, refused ones
  // included; a UDP resend of the same frame is not a new one.
  int nakAtProgramFrame = 0;        // k >= 1: the k-th program frame is refused (not written)
  int wrongEchoAtProgramFrame = 0;  // k >= 1: the k-th program frame's reply echoes another address
  int corruptProgramFrame = 0;      // k >= 1: the k-th program frame is acknowledged as written, but
                                    // its first byte is stored with the lowest bit flipped
  int silentAfterProgramFrames = -1;  // k >= 0: after k program frames, no reply to anything
                                      // (0: silent from the start); it lasts until the board stops
  // k >= 1: right after the k-th program frame, another board takes this one's
  // place at the same address: a factory board with swapSerial, never erased,
  // which gets whatever the run sends next.
  int swappedAfterProgramFrame = 0;
  std::string swapSerial = "SWAPPED";
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
  // The whole record, 16 bytes, as given over the three above (on a line, for
  // every board): a blank board's 0xFF bytes, or bytes no text option carries.
  // Empty: the record is made from the three.
  std::string identityRecord;
  std::string flashFile;            // written on every lock and when the board stops; empty: none.
                                    // A line's board i writes flashFile + "." + i instead.
  int timeLimitSeconds = 600;       // the board stops by itself after this long
  // 0: one board, which keeps answering after its lock. N >= 1: a line of N
  // boards, board i with the serial number BoardSerial(serial, i).
  int lineBoards = 0;
  int resetSilenceMs = kDefaultResetSilenceMs;  // a line's board is silent this long after its lock
  std::size_t eventsKept = kSimEventsKept;      // the event record's size; older events are dropped
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
  int board = 1;            // CurrentBoard() when it arrived
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

  // What the board holds and has seen. Safe to call while it runs. On a line,
  // Flash(), ProgramFramesWritten() and Locked() are the current board's (after
  // the line has run out, the last board's).
  std::vector<std::uint8_t> Flash() const;  // 0x20000 bytes
  // The most recent eventsKept events in arrival order; EventCount() counts all
  // of them since Start, so memory stays bounded however long the board runs.
  std::vector<SimEvent> Events() const;
  std::uint64_t EventCount() const;
  int ProgramFramesWritten() const;         // distinct accepted program frames since the last erase
  bool Locked() const;                      // lock received and acknowledged since the last erase
  // 1..N: the line's board that answers, or resets after its lock; N + 1 once
  // the last board's silence has passed. Without a line, always 1.
  int CurrentBoard() const;
  // Board i's flash (1..N; without a line, 1): as it is now, or as it was when
  // its silence ended. Empty for a board not reached yet or out of range.
  std::vector<std::uint8_t> BoardFlash(int board) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The varnel-sim program: parses the options in argv (see its --help), starts the
// board, prints "ready" once it listens, and runs until its time limit, SIGINT or
// SIGTERM. Returns the process exit status.
int RunSimMain(int argc, char** argv);
