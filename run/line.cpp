#include "run/line.h"

#include <algorithm>

#include "os/host.h"

LinkWaits LineWaits(const LinkWaits& base) {
  LinkWaits waits = base;
  waits.probeMs = std::min(base.probeMs, line_const::kProbeMs);
  waits.pauseAfterLockMs = 0;
  return waits;
}

LineWait WaitForBoard(Session& session, const std::string& address, std::int64_t deadlineMs,
                      const std::function<bool()>& stop) {
  for (;;) {
    if (stop()) return LineWait::kStopped;
    const std::int64_t looked = MonotonicMs();
    session.Open(address);
    if (session.Connected()) return LineWait::kDone;
    if (MonotonicMs() >= deadlineMs) return LineWait::kTimedOut;
    // An open that fails at once (the port's adapter unplugged, no route) is
    // tried again after a pause, not in a loop that holds a core.
    const std::int64_t spent = MonotonicMs() - looked;
    if (spent < line_const::kPauseBetweenLooksMs) SleepMs(static_cast<int>(line_const::kPauseBetweenLooksMs - spent));
  }
}

LineWait WaitForNextBoard(Session& next, const std::string& address, const IdentityBlock* justWritten,
                          std::int64_t deadlineMs, const std::function<bool()>& stop) {
  for (;;) {
    if (stop()) return LineWait::kStopped;
    next.Open(address);
    if (!next.Connected()) return LineWait::kDone;
    if (justWritten != nullptr && next.IdentityRead() && next.Identity() != *justWritten) return LineWait::kDone;
    next.Close();
    if (MonotonicMs() >= deadlineMs) return LineWait::kTimedOut;
    SleepMs(line_const::kPauseBetweenLooksMs);
  }
}
