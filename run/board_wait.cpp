#include "run/board_wait.h"

#include <algorithm>

#include "os/host.h"

LinkWaits LineWaits(const LinkWaits& base) {
  LinkWaits waits = base;
  waits.probeMs = std::min(base.probeMs, board_wait_const::kProbeMs);
  waits.pauseAfterLockMs = 0;
  return waits;
}

BoardWait WaitForBoard(Session& session, const std::string& address, std::int64_t deadlineMs,
                      const std::function<bool()>& stop) {
  for (;;) {
    if (stop()) return BoardWait::kStopped;
    const std::int64_t looked = MonotonicMs();
    session.Open(address);
    if (session.Connected()) return BoardWait::kDone;
    if (MonotonicMs() >= deadlineMs) return BoardWait::kTimedOut;
    // An open that fails at once (the port's adapter unplugged, no route) is
    // tried again after a pause, not in a loop that holds a core.
    const std::int64_t spent = MonotonicMs() - looked;
    if (spent < board_wait_const::kPauseBetweenLooksMs) SleepMs(static_cast<int>(board_wait_const::kPauseBetweenLooksMs - spent));
  }
}

BoardWait WaitForNextBoard(Session& next, const std::string& address, const IdentityBlock* justWritten,
                          std::int64_t deadlineMs, const std::function<bool()>& stop) {
  for (;;) {
    if (stop()) return BoardWait::kStopped;
    next.Open(address);
    if (!next.Connected()) return BoardWait::kDone;
    if (justWritten != nullptr && next.IdentityRead() && next.Identity() != *justWritten) return BoardWait::kDone;
    next.Close();
    if (MonotonicMs() >= deadlineMs) return BoardWait::kTimedOut;
    SleepMs(board_wait_const::kPauseBetweenLooksMs);
  }
}
