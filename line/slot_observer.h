#pragma once

// What a slot of a production line tells its front end, event by event: the
// one interface a terminal's lines, a gang's table and a browser's tiles are
// drawn from. Every event names its slot; a line of several ports calls each
// slot's observer from that slot's own thread.
//
// A slot's events come in this order, for every board:
//   Waiting -> BoardSeen -> [Programming -> RunStarted -> FrameAcknowledged...
//   -> RunEnded] -> BoardDone -> WaitingToGo -> (Waiting, or BoardSeen when the
//   next board answered while the last was going)
// and Ended once, last. A board refused (wrong hardware, a repeat, no serial
// number) goes from BoardSeen to BoardDone. Problem and Diagnostic may come
// between any two.

#include <cstdint>
#include <string>

#include "line/line_ending.h"
#include "link/link.h"
#include "run/run_record.h"
#include "run/run_report.h"
#include "vocabulary/vocabulary.h"

// Which slot an event comes from.
struct SlotId {
  int index = 0;     // from 1 in a line of several ports; 0 for a line on one
  std::string port;  // the network port its sockets are tied to; empty: none
};

// How a board met by a slot ended, as a tile shows it.
enum class BoardOutcome {
  kPassed,   // programmed (and read back, when asked) and locked
  kFailed,   // a run that did not end as asked, or no identity to go by
  kRefused,  // turned away before its erase: nothing was erased
  kStopped,  // a stop was asked for during its run: left unlocked
};

// Where one board's time went, in seconds, from its report.
struct BoardTimes {
  double seconds = 0;         // the whole board: identity read to record written
  double connectSeconds = 0;  // the probe and the identity read
  double programSeconds = 0;  // the run: erase, frames, read-back, lock
  double eraseSeconds = 0;    // waiting for the erase to be acknowledged
  double framesSeconds = 0;   // sending the frames
  double verifySeconds = 0;   // the read-back before the lock (0: none asked)
  double lockSeconds = 0;     // the lock and reset
};

// One board's end, in the words and figures a front end shows.
struct BoardResult {
  BoardOutcome outcome = BoardOutcome::kFailed;
  std::string serial;   // the number written; empty when refused before it got one
  std::string message;  // the operator's words: "Download Successful", "Wrong board: ..."
  std::string cause;    // why it did not end as asked, in words; empty when it did
  // A board whose identity matches one that failed earlier on this line (its
  // identity before that run, or the one that run stamped).
  bool retry = false;
  BoardTimes times;
};

// A slot's figures: what it met, and what ended it.
struct SlotFigures {
  int passed = 0;
  int failed = 0;    // refused and stopped boards included
  int retries = 0;   // boards met again after failing earlier on this line
  int firstPass = 0; // boards that passed at their first attempt on this line
  std::string firstSerial;
  std::string lastSerial;
  double passedSeconds = 0;  // the passed boards' time, each from identity to record
  LineEnding ending = LineEnding::kNone;  // what ended this slot before its time
  std::string endingText;                 // in the operator's words
};

// Something that went wrong beside a board's run, for the person at the station.
enum class SlotProblem {
  kCloseRefused,     // the socket library refused to close the link (detail: the window's text)
  kRecordNotStored,  // the station database did not take a board's record (detail: why)
  kConflict,         // the board's number was released while its run went on (detail: the conflict recorded)
  kRecordNotLogged,  // the run log did not take a board's record (detail: why)
};

class SlotObserver {
 public:
  virtual ~SlotObserver() = default;
  // Waiting for a board; `nextSerial` is the number the next board gets as the
  // store says now ("none" when they are used up, empty when it cannot say).
  virtual void Waiting(const SlotId& /*slot*/, const std::string& /*nextSerial*/) {}
  // A board answered: its transport and, when read, its identity.
  virtual void BoardSeen(const SlotId& /*slot*/, LinkMode /*transport*/, bool /*identityRead*/,
                         const IdentityTexts& /*found*/) {}
  // The board was admitted and gets `serial`.
  virtual void Programming(const SlotId& /*slot*/, LinkMode /*transport*/, const IdentityTexts& /*found*/,
                           const std::string& /*serial*/) {}
  // The run's progress: the frames planned, each one acknowledged, the end.
  virtual void RunStarted(const SlotId& /*slot*/, int /*frames*/) {}
  virtual void FrameAcknowledged(const SlotId& /*slot*/, int /*index*/, std::uint32_t /*address*/) {}
  virtual void RunEnded(const SlotId& /*slot*/, int /*result*/, int /*framesAcknowledged*/) {}
  // The board's end, its report and the record written for it.
  virtual void BoardDone(const SlotId& /*slot*/, const BoardResult& /*board*/, const RunReport& /*report*/,
                         const Json& /*record*/) {}
  // Watching the board just met until it goes (or the next one answers).
  virtual void WaitingToGo(const SlotId& /*slot*/) {}
  // The slot's network port went down (true), or came back up (false), while
  // the slot waited: a port that is down is waited for, not taken for a board
  // that left.
  virtual void PortChanged(const SlotId& /*slot*/, bool /*down*/) {}
  virtual void Problem(const SlotId& /*slot*/, SlotProblem /*problem*/, const std::string& /*detail*/) {}
  // A diagnostic line of the core's from this slot's links (line end removed,
  // bytes as they are: a front end that shows them escapes them).
  virtual void Diagnostic(const SlotId& /*slot*/, const std::string& /*line*/) {}
  // The slot is done: its figures.
  virtual void Ended(const SlotId& /*slot*/, const SlotFigures& /*figures*/) {}
};
