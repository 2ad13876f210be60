#pragma once

// The wait for a board at one address: for the next board to answer, and
// for the one just programmed to go. Several slots (one per network port) run
// side by side, each with sessions of its own.

#include <cstdint>
#include <functional>
#include <string>

#include "link/frames.h"
#include "run/session.h"

namespace board_wait_const {
// While a line looks for a board to come or to go, a probe attempt waits this
// long (the frames are the usual probe's): a loader answers within
// milliseconds, and the board's own 2 s per attempt would make a station notice
// a new board, or a reset one, six seconds late.
constexpr int kProbeMs = 250;
// Between two looks at a board that still answers after its run.
constexpr int kPauseBetweenLooksMs = 200;
}  // namespace board_wait_const

// The waits of a line's sessions: shorter probes, and no blind pause after the
// lock, since the line watches the board fall silent instead.
LinkWaits LineWaits(const LinkWaits& base);

enum class BoardWait { kDone, kTimedOut, kStopped };

// Opens `session` at `address` until a loader answers (its identity read or
// not), until `deadlineMs` (MonotonicMs) passes, or until `stop` says so.
BoardWait WaitForBoard(Session& session, const std::string& address, std::int64_t deadlineMs,
                      const std::function<bool()>& stop);

// After a board's run: looks at `address` until the board falls silent (kDone
// with `next` closed), or until a board answers whose identity is not
// `justWritten` (kDone with `next` open on it: the next board, however short
// the gap). With no identity given (the run did not lock), only silence ends
// the wait. The board just programmed answers with what was written to it.
BoardWait WaitForNextBoard(Session& next, const std::string& address, const IdentityBlock* justWritten,
                          std::int64_t deadlineMs, const std::function<bool()>& stop);
