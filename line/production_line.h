#pragma once

// What the slots of one production line share: the serial numbers, the
// records, the count of boards, the figures, and what ends every slot at once.
// A line on one port has one slot; a gang has one per network port, each on a
// thread of its own, so every call here may come from any of them.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "line/line_config.h"
#include "line/line_ending.h"
#include "line/slot_observer.h"
#include "run/run_record.h"
#include "run/run_report.h"
#include "station/serial_store.h"

// A serial number for a board, or why it gets none.
struct SerialGrant {
  Allocation allocation;                 // its serial is empty when refused
  Refusal refusal = Refusal::kNone;
  std::string message;
  LineEnding ending = LineEnding::kNone;  // no board on any slot can get a number either
  bool stopped = false;  // the wait for a number was stopped: the board is left, not refused
};

// The grant of a store that cannot hand out or check a number: no board on
// any slot is served.
SerialGrant Unserved(const StoreError& e);

// What became of a number a person gave a slot (a scanned label).
struct BindAnswer {
  bool accepted = false;
  std::string words;  // why it was refused, or what happens now
};

// Where a board's serial number comes from once the line admitted it: the
// store's range (StoreRange), or labels scanned at each slot (ScannedSerials).
// Take, Bind and Ended are called with the line's lock held, one at a time.
class SerialSource {
 public:
  virtual ~SerialSource() = default;
  // A number for the board `claim` describes at slot `slot`, durable before it
  // returns, or why it gets none. Never waits for a person: Await does.
  virtual SerialGrant Take(const std::string& slot, const BoardClaim& claim) = 0;
  // The number the next board would get, for a person (another station may take
  // it first): "none" when there are none left; empty when it cannot say.
  virtual std::string Next() = 0;
  // Outside the line's lock: returns once `slot` has a number to take, calling
  // `waiting` first when it has none yet; false when `stopping` says so first.
  virtual bool Await(const std::string& /*slot*/, const std::function<void()>& /*waiting*/,
                     const std::function<bool()>& /*stopping*/) {
    return true;
  }
  // A number given for `slot`'s next board.
  virtual BindAnswer Bind(const std::string& /*slot*/, const std::string& /*serial*/) {
    return {false, "This line counts its serial numbers from its range; it takes none scanned."};
  }
  // The board at `slot` ended (passed or not) with `serial` (empty: it got none).
  virtual void Ended(const std::string& /*slot*/, const std::string& /*serial*/, bool /*passed*/) {}
};

// The store's own range: the next number, allocated in the store.
class StoreRange : public SerialSource {
 public:
  explicit StoreRange(SerialStore& store) : store_(store) {}
  SerialGrant Take(const std::string& slot, const BoardClaim& claim) override;
  std::string Next() override;

 private:
  SerialStore& store_;
};

// Where the line appends each board's record (the run log). Called one slot at
// a time.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  // Empty when the record was written whole; else why not.
  virtual std::string Append(const Json& record) = 0;
};

// What keeps the exchanges of a line's links (a trace, a capture), if anything.
class LinkWatch {
 public:
  virtual ~LinkWatch() = default;
  // What watches slot `slot`'s links on `port`; null: nothing.
  virtual LinkObserver* ForSlot(int slot, const std::string& port) = 0;
  // An event was not taken: the line ends, as for a lost record.
  virtual bool Lost() const = 0;
};

// The line's figures, its slots' added up.
struct LineFigures {
  int passed = 0;
  int failed = 0;
  int retries = 0;
  int firstPass = 0;
  double passedSeconds = 0;
  double seconds = 0;  // since the line opened
  // Boards passed at their first attempt on this line over the boards met
  // (boards met again after a failure count once); 0 before any board.
  double FirstPassYield() const;
  double BoardsPerHour() const;
  double SecondsPerBoard() const;  // the passed boards' average
};
double BoardsPerHour(int passed, double seconds);

class ProductionLine {
 public:
  // `store` keeps the numbers and, when `keepsRecords` (a database), every
  // claim and run; `storeName` names it for the operator; `records` takes each
  // board's record (null: none); `numbers` hands them out (null: the store's
  // range).
  ProductionLine(const LineConfig& config, SerialStore& store, std::string storeName, bool keepsRecords,
                 RecordSink* records, SerialSource* numbers = nullptr);
  ProductionLine(const ProductionLine&) = delete;
  ProductionLine& operator=(const ProductionLine&) = delete;

  const LineConfig& Config() const { return config_; }
  bool KeepsRecords() const { return keepsRecords_; }

  // The one allocation: a board whose serial number was handed out from the
  // store is refused (unless allowRepeat, or it failed earlier on this line:
  // a retry), otherwise it gets the next number,
  // durable before it returns, claimed by `slotName`. Slots take turns (and the
  // store locks against other stations), so no number goes out twice.
  // `awaitSerial` (may be empty) is called between the check and the number,
  // without the line's lock: a source that waits for a person waits there
  // (AwaitSerial); false from it ends the grant as stopped.
  SerialGrant GrantSerial(const RunReport& report, const std::string& slotName,
                          const std::function<bool()>& awaitSerial = {});
  // The serial source's wait for a number at `slotName`, outside the line's
  // lock (SerialSource::Await).
  bool AwaitSerial(const std::string& slotName, const std::function<void()>& waiting,
                   const std::function<bool()>& stopping);
  // A number a person gave for `slotName`'s next board (SerialSource::Bind).
  BindAnswer BindSerial(const std::string& slotName, const std::string& serial);
  // The board at `slotName` ended with `serial` (SerialSource::Ended).
  void SerialEnded(const std::string& slotName, const std::string& serial, bool passed);
  // With a store that keeps records: the run's end and record, on its
  // allocation (or without one, for a board that got no number).
  StoreError Record(const RunReport& report, const Allocation& allocation, const std::string& slotName,
                    const std::string& json);
  // The number the next board gets, for a person: "none" when they are used
  // up; empty when the source cannot say.
  std::string NextSerial();
  // The first and the last number handed out on any slot.
  std::string FirstSerial();
  std::string LastSerial();

  // The count across slots: true when this board is one of the N. A slot whose
  // board comes after the last one leaves it as it is.
  bool ClaimBoard();
  // Every board asked for has been met; slots that wait for one stop.
  bool AllClaimed();

  // One record to the sink, one slot at a time: empty, or why it was not taken.
  std::string Append(const Json& record);

  // A board that did not pass: kept to tell a retry, and as the line's last failure.
  void Failed(const RunReport& report, const IdentityBlock* stamped);
  // True when `identity` is one a board that failed on this line had.
  bool IsRetry(const IdentityBlock& identity);
  // The last board that did not pass, if any.
  std::optional<RunReport> LastFailure();

  // Ends every slot at its next wait (runs under way finish): the first reason stays.
  void End(LineEnding ending, const std::string& why);
  bool Ended();
  LineEnding Ending();
  std::string EndingText();

 private:
  const LineConfig config_;  // a copy: the front end's may change once the line runs
  std::mutex mutex_;  // guards everything below
  SerialStore& store_;
  StoreRange range_;
  SerialSource* numbers_;
  std::string storeName_;
  bool keepsRecords_;
  RecordSink* records_;
  std::string first_;
  std::string last_;
  int claimed_ = 0;
  std::set<IdentityBlock> failedIdentities_;
  std::optional<RunReport> lastFailure_;
  LineEnding ending_ = LineEnding::kNone;
  std::string endingText_;
};
