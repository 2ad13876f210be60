#include "run/board_wait.h"

#include <algorithm>

#include "os/host.h"
#include "os/interfaces.h"

LinkWaits LineWaits(const LinkWaits& base) {
  LinkWaits waits = base;
  waits.probeMs = std::min(base.probeMs, board_wait_const::kProbeMs);
  waits.pauseAfterLockMs = 0;
  return waits;
}

namespace {

// Whether the session's port is down or gone, as the system says; told to
// `portChange` when that changes. A session tied to no port is never down.
class PortLook {
 public:
  PortLook(const Session& session, const PortChange& portChange) : session_(session), portChange_(portChange) {}
  ~PortLook() {
    if (down_ && portChange_) portChange_(false);
  }
  PortLook(const PortLook&) = delete;
  PortLook& operator=(const PortLook&) = delete;

  bool Down() {
    const std::string& port = session_.InterfaceName();
    NetInterface found;
    int error = 0;
    // A list the system cannot give says nothing of the port: not taken for down.
    const bool known = !port.empty() && SockFindInterface(port, &found, &error);
    const bool down = !port.empty() && (known ? !found.up : error == 0);
    if (down != down_ && portChange_) portChange_(down);
    down_ = down;
    wasDown_ = wasDown_ || down;
    return down;
  }
  // The port was down at some look of this wait.
  bool WasDown() const { return wasDown_; }

 private:
  const Session& session_;
  const PortChange& portChange_;
  bool down_ = false;
  bool wasDown_ = false;
};

}  // namespace

BoardWait WaitForBoard(Session& session, const std::string& address, std::int64_t deadlineMs,
                      const std::function<bool()>& stop, const PortChange& portChange) {
  PortLook port(session, portChange);
  for (;;) {
    if (stop()) return BoardWait::kStopped;
    const std::int64_t looked = MonotonicMs();
    session.Open(address);
    if (session.Connected()) return BoardWait::kDone;
    port.Down();
    if (MonotonicMs() >= deadlineMs) return BoardWait::kTimedOut;
    // An open that fails at once (the port's adapter unplugged, no route) is
    // tried again after a pause, not in a loop that holds a core.
    const std::int64_t spent = MonotonicMs() - looked;
    if (spent < board_wait_const::kPauseBetweenLooksMs) SleepMs(static_cast<int>(board_wait_const::kPauseBetweenLooksMs - spent));
  }
}

BoardWait WaitForNextBoard(Session& next, const std::string& address, const IdentityBlock* justWritten,
                          std::int64_t deadlineMs, const std::function<bool()>& stop, const PortChange& portChange) {
  PortLook port(next, portChange);
  for (;;) {
    if (stop()) return BoardWait::kStopped;
    next.Open(address);
    const bool portDown = port.Down();
    if (!next.Connected() && !portDown) return BoardWait::kDone;  // silence on a port that is up: the board went
    if (next.Connected()) {
      const bool holdsWritten = justWritten != nullptr && next.IdentityRead() && next.Identity() == *justWritten;
      if (port.WasDown() && !holdsWritten) return BoardWait::kDone;
      if (justWritten != nullptr && next.IdentityRead() && !holdsWritten) return BoardWait::kDone;
    }
    next.Close();
    if (MonotonicMs() >= deadlineMs) return BoardWait::kTimedOut;
    SleepMs(board_wait_const::kPauseBetweenLooksMs);
  }
}
