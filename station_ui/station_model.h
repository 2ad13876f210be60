#pragma once

// What the station shows: the line's job, one tile per slot, the counters, the
// last boards and the shift's charts. The line (through an adapter) calls the
// Slot* and Line* methods from its own threads as things happen; the web
// server reads snapshots and the changes since a sequence number. Every change
// gets the next sequence number. No call waits for a reader: a change is
// recorded under one short lock, and the listener is told after the lock is
// released.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace station_ui {

enum class SlotState { kIdle, kWaiting, kProgramming, kPassed, kFailed, kStopped };
enum class LineState { kIdle, kRunning, kStopping, kEnded };

// The data-state word of a tile and the API's "state".
const char* SlotStateName(SlotState state);
const char* LineStateName(LineState state);

// The line's settings as the page shows them at the top. Nothing here may hold
// a password: serialSource names a database without its credentials.
struct JobFacts {
  std::string jobName;    // the approved job's; empty: the line runs the options given
  std::string jobSigner;  // the fingerprint of the key that signed the job; empty: unsigned
  std::string fileName;
  std::string sha256;        // hex, the whole of it
  std::string format;        // "S-records", "Intel HEX", ...
  std::string revision;      // empty: each board's current one
  bool scan = false;         // each board's number is scanned at its slot
  std::string serialSource;  // "state file line.state", "database ...", "scanned at each slot, ..."
  std::string nextSerial;    // empty when scanned
  std::string verify;        // "none", "frames", "full"
  std::string expectHardware;  // empty: any board
  int count = 0;             // 0: until stopped
};

// The identity a board answered with, as the operator reads it.
struct BoardIdentity {
  std::string revision;
  std::string serial;
  std::string hardware;
};

// How a board's run ended.
struct BoardOutcome {
  bool passed = false;
  std::string serial;      // the number written (or meant to be)
  std::string cause;       // in the operator's words; empty when passed
  double seconds = 0;      // from the board seen to its run's end
  bool retry = false;      // the board was run before in this shift (first-pass yield)
  std::string recordJson;  // the run record, one JSON object
};

struct Counters {
  int passed = 0;
  int failed = 0;
  int firstTries = 0;       // boards run for the first time
  int firstTryPassed = 0;   // ... and passed
  double busySeconds = 0;   // sum of the boards' durations
};

namespace model_const {
constexpr std::size_t kEventRing = 1024;       // changes kept for viewers behind
constexpr std::size_t kHistoryShown = 20;      // boards in the page's table
constexpr std::size_t kHistoryKept = 100000;   // boards of a shift kept for the CSV and log
constexpr std::int64_t kMinRateSeconds = 60;   // boards per hour over at least a minute
}  // namespace model_const

// One change as the live stream carries it.
struct ModelEvent {
  std::uint64_t seq = 0;
  std::string json;  // {"seq":N,"kind":"slot"|"line"|"job"|"board",...}
};

// What a reader behind `since` gets: the changes after it, or resync when some
// of them are no longer kept.
struct EventsSince {
  bool resync = false;
  std::uint64_t last = 0;  // the newest sequence number
  std::vector<ModelEvent> events;
};

class StationModel {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  // One slot per port, in this order; the slot's index is its place here.
  explicit StationModel(std::vector<std::string> ports, Clock clock = {});

  // Told (outside the lock) after every change; set before the line starts.
  void SetListener(std::function<void()> listener);

  void SetJob(const JobFacts& job);
  void SetNextSerial(const std::string& serial);
  void LineStarted();
  void LineStopping();
  void LineEnded(const std::string& summary);

  void SlotWaiting(int slot);
  void SlotBoardSeen(int slot, const BoardIdentity& identity);
  // The board seen waits for its number to be scanned from its label.
  void SlotWaitingForSerial(int slot);
  void SlotProgramming(int slot, const std::string& serial, int acked, int total);
  void SlotBoardDone(int slot, const BoardOutcome& outcome);
  // The board is still there after its run: the tile keeps its result until
  // the board is taken away (the next SlotWaiting).
  void SlotWatchingGo(int slot);
  void SlotEnded(int slot, const std::string& summary);
  // A scanned number is bound to the slot's next board (empty: none).
  void SlotNextSerial(int slot, const std::string& serial);

  // Readers.
  int SlotCount() const { return static_cast<int>(ports_.size()); }
  std::string SnapshotJson() const;
  EventsSince ChangesSince(std::uint64_t since) const;
  std::uint64_t Sequence() const;
  std::string HistoryJson() const;  // the last boards, newest first
  std::string ShiftCsv() const;     // every board of the shift
  std::string RunLog() const;       // the boards' run records, one JSON line each

 private:
  struct Slot {
    std::string port;
    SlotState state = SlotState::kIdle;
    bool identitySeen = false;
    BoardIdentity identity;
    std::string serial;
    int acked = 0;
    int total = 0;
    std::string cause;
    std::string message;
    std::string nextSerial;
    std::int64_t startedMs = 0;  // the board seen; 0: none
    double seconds = 0;          // the last board's duration
    bool boardPresent = false;
    Counters counters;
  };
  struct BoardRow {
    std::int64_t timeMs = 0;
    int slot = 0;
    std::string serial;
    bool passed = false;
    std::string cause;
    double seconds = 0;
    std::string recordJson;
  };

  std::int64_t NowMs() const;
  bool ValidSlot(int slot) const { return slot >= 0 && slot < static_cast<int>(ports_.size()); }
  // Each records one change with the lock held.
  void PushSlotLocked(int slot);
  void PushLineLocked();
  void PushLocked(const std::string& kind, const std::string& body);
  void Notify();
  // One change made under the lock, then the listener told outside it.
  template <class Edit>
  void Change(Edit&& edit) {
    {
      std::lock_guard lock(mutex_);
      edit();
    }
    Notify();
  }
  // One slot's change (a slot that is not there changes nothing), recorded as
  // that slot's new state.
  template <class Edit>
  void ChangeSlot(int slot, Edit&& edit) {
    if (!ValidSlot(slot)) return;
    Change([&] {
      edit(slots_[slot]);
      PushSlotLocked(slot);
    });
  }

  std::string SlotJsonLocked(int slot) const;
  std::string LineJsonLocked() const;
  std::string JobJsonLocked() const;
  std::string RowJsonLocked(const BoardRow& row) const;

  const std::vector<std::string> ports_;
  Clock clock_;
  std::function<void()> listener_;

  mutable std::mutex mutex_;
  std::uint64_t seq_ = 0;
  std::deque<ModelEvent> ring_;
  JobFacts job_;
  LineState lineState_ = LineState::kIdle;
  std::string summary_;
  std::int64_t shiftStartMs_ = 0;  // the first start; 0: never started
  std::vector<Slot> slots_;
  Counters line_;
  std::deque<BoardRow> history_;
  std::map<std::int64_t, int> perHour_;     // boards by the hour they ended in (epoch seconds)
  std::map<std::string, int> causes_;       // failures by cause
};

}  // namespace station_ui
