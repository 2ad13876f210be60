#pragma once

// The resident loader's side of the four commands: it carries out one request
// on the flash and makes the reply, with the faults that change what a reply
// says (refusals, a wrong echo, a corrupted write, short or inconsistent reads,
// silence, the reset after a line's lock). Faults that change how and when a
// reply travels belong to the board's sockets. No I/O, no locking: the board
// serialises the calls.

#include <cstdint>
#include <string>
#include <vector>

#include "sim/loader_wire.h"
#include "sim/sim_board.h"

namespace sim {

// One request as it arrived: a TCP frame, or a UDP datagram after its sequence
// byte.
struct Request {
  bool udp = false;
  std::uint8_t sequence = 0;
  const std::uint8_t* bytes = nullptr;
  std::size_t length = 0;
};

struct Outcome {
  SimEvent event{};
  Bytes reply;              // TCP layout; empty: the board stays silent
  bool lockedNow = false;   // a lock was acknowledged: the flash goes to disk
};

class Loader {
 public:
  explicit Loader(const SimOptions& options);

  Outcome Handle(const Request& request);

  const std::vector<std::uint8_t>& Flash() const { return flash_; }
  int ProgramFramesWritten() const { return framesWritten_; }
  bool Locked() const { return locked_; }

 private:
  Outcome Carry(const Request& request);
  void Read(const std::uint8_t* frame, Outcome& out);
  void Erase(Outcome& out);
  void Program(const std::uint8_t* frame, Outcome& out);
  void Lock(Outcome& out);

  SimFaults faults_;
  char revision_;
  std::string hardware_;
  std::vector<std::uint8_t> flash_;
  int framesSeen_ = 0;     // distinct program frames since the last erase, refused ones included
  int framesWritten_ = 0;  // of those, the ones written
  bool locked_ = false;
  bool resetsAfterLock_ = false;  // a board of a line: silent from its lock on
  bool silent_ = false;    // once silent, the board answers nothing until it stops

  // The tool resends a UDP request unchanged until it hears a reply, so a
  // datagram equal to the previous one is that request again and gets the same
  // reply, without being carried out or counted a second time.
  bool haveLastUdp_ = false;
  std::uint8_t lastUdpSequence_ = 0;
  Bytes lastUdpRequest_;
  Outcome lastUdpOutcome_;
};

}  // namespace sim
