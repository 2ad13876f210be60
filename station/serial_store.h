#pragma once

// Where a station's serial numbers come from and where its runs are recorded:
// one interface over three stores.
// - STATE: one JSON file (serial_state.h), locked around each allocation, for
//   one station or a few sharing a local disk. It cannot take a number back and
//   keeps no records beyond the range.
// - SQLite: one database file on a station, shared by its slots and processes.
// - PostgreSQL: one database for a whole line of stations.
// Every call returns a StoreError (StoreFailure::kNone when it went well); nothing throws.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Why a store could not do what it was asked; a front end says what it means
// for its own (tovrin-cli: an exit status).
enum class StoreFailure {
  kNone,
  kUnusable,     // cannot be read, reached, committed, or is not a state of this range
  kUsedUp,       // the range has no number left
  kUnsupported,  // asked for something this store cannot do
  kConflict,     // a run ended to find its number no longer pending: recorded as a conflict
  kLeaseHeld,    // release: the number's station still shows its run is alive
};

struct StoreError {
  StoreFailure failure = StoreFailure::kNone;
  std::string message;
  bool Failed() const { return failure != StoreFailure::kNone; }
};

// Who asks for a number: recorded with it when the store keeps records.
struct BoardClaim {
  std::string identityBefore;  // the board's identity record before the run, as hex
  std::string station;         // the host's name
  std::string slot;            // the slot, or the address the board answers on
  std::string operatorName;
  std::string sha256;          // of the file to be programmed
  // The approved job the run comes from (docs/jobs.md): empty name for none,
  // empty signer for a job that was not signed.
  std::string jobName;
  std::string jobSha256;
  std::string jobSigner;
  // A number scanned from the board's label: when it was bound to the slot
  // (UTC, as allocated_at); empty for a number from the range.
  std::string scannedAt;
};

struct Allocation {
  std::int64_t id = 0;  // the allocation's row; 0 for STATE
  std::string serial;
  std::string scannedAt;  // as the claim's: the number was scanned, bound then
};

// What a store says of a number given to it (scanned from a label) rather than
// counted out of its range.
enum class GivenVerdict {
  kFree,        // may be handed out
  kMalformed,   // not a serial number of the store's range
  kProgrammed,  // handed out before and kept by a board (programmed, verified, or failed after its stamp)
  kPending,     // handed out and its run not ended
};

struct GivenCheck {
  GivenVerdict verdict = GivenVerdict::kFree;
  std::string words;  // why not, for the operator; empty when free
  bool Free() const { return verdict == GivenVerdict::kFree; }
};

// One run's record, as the runs table keeps it beside the whole JSON line.
struct StoredRun {
  std::string command;  // "program", "batch"
  std::string station;
  std::string slot;
  std::string operatorName;
  std::string serial;   // written, or empty
  std::string sha256;
  std::string result;   // "programmed", "verified", "failed", "interrupted", "refused"
  std::string json;     // the run's whole record
  std::string jobName;  // as BoardClaim's
  std::string jobSha256;
  std::string jobSigner;
};

enum class RunOutcome { kProgrammed, kVerified, kFailed };

struct RunEnd {
  RunOutcome outcome = RunOutcome::kFailed;
  // Whether the frame carrying the identity record (0x420) went to the board,
  // acknowledged or not. A failed run that never sent it did not give the board
  // its number, which then goes back to the pool.
  bool stampSent = false;
  std::string cause;  // a failure's cause, in words
  StoredRun record;
};

struct NextSerialInfo {
  std::string next;  // empty when the range is used up
  std::uint64_t left = 0;
};

// The states of a number, as allocations and reports name them.
namespace serial_state_name {
constexpr const char kPending[] = "pending";        // handed out, run not ended (or cut off)
constexpr const char kProgrammed[] = "programmed";
constexpr const char kVerified[] = "verified";
constexpr const char kFailed[] = "failed";          // failed after the stamp frame: kept by the board
constexpr const char kReturned[] = "returned";      // failed before the stamp frame: back in the pool
constexpr const char kReleased[] = "released";      // a pending number a person gave back to the pool
}  // namespace serial_state_name

struct AllocationRow {
  std::int64_t id = 0;
  std::string serial;
  std::string state;
  std::string station;
  std::string slot;
  std::string operatorName;
  std::string sha256;
  std::string identityBefore;
  std::string allocatedAt;
  std::string finishedAt;
  std::string cause;
  std::string releasedBy;
  std::string releasedAt;
  std::string jobName;  // as BoardClaim's
  std::string jobSha256;
  std::string jobSigner;
  std::string scannedAt;  // as BoardClaim's
};

struct RunRow {
  std::int64_t id = 0;
  std::string at;
  StoredRun record;
  // The run ended to find its number no longer pending (released while it
  // went on): what it found. Empty for every other run.
  std::string conflict;
};

// Empty fields filter nothing; times compare as the stored text (UTC, ISO 8601).
struct ReportFilter {
  std::string serial;
  std::string from;
  std::string to;
  std::string station;
  std::string result;
  std::string job;  // the job's name
};

class SerialStore {
 public:
  virtual ~SerialStore() = default;
  virtual const char* Kind() const = 0;  // "STATE", "SQLite", "PostgreSQL"

  // The range the numbers come from, starting at `first`: created when the
  // store holds none, refused when the store counts another range of the same
  // prefix and width.
  virtual StoreError UseRange(const std::string& first) = 0;
  // The number the next allocation hands out (a hint: another station may take it).
  virtual StoreError Next(NextSerialInfo& info) = 0;
  // Hands out the next number in one transaction, durable before it returns,
  // recording it as pending with the claim.
  virtual StoreError Allocate(const BoardClaim& claim, Allocation& allocation) = 0;
  // Hands out `serial` itself (a scanned label), in one transaction, durable
  // before it returns, pending with the claim as Allocate records it; a number
  // of the range Allocate would count out later is skipped there. When the
  // number may not be handed out, check says why and nothing changes. A number
  // with no range of its prefix and width yet starts one counting from zero.
  virtual StoreError AllocateGiven(const std::string& serial, const BoardClaim& claim, Allocation& allocation,
                                   GivenCheck& check) = 0;
  // What AllocateGiven would find now, changing nothing (another station may
  // take the number before it is allocated).
  virtual StoreError CheckGiven(const std::string& serial, GivenCheck& check) = 0;
  // Ends an allocation with its run, and records the run. An allocation that is
  // no longer pending (a person released it while the run went on) is not
  // changed: the run is recorded with the conflict, which fails with kConflict.
  virtual StoreError Finish(const Allocation& allocation, const RunEnd& end) = 0;
  // Records a run that had no allocation (program, a refused board).
  virtual StoreError RecordRun(const StoredRun& run) = 0;
  // True when `serial` was handed out from the range and not given back.
  virtual StoreError HandedOut(const std::string& serial, bool& handedOut) = 0;

  // The records, for tovrin-cli db.
  virtual StoreError Pending(std::vector<AllocationRow>& rows) = 0;
  // Gives a pending number back to the pool, recording who did and when. A
  // number whose station renewed its lease lately (its run is alive) is
  // refused with kLeaseHeld, saying when the lease runs out.
  virtual StoreError Release(const std::string& serial, const std::string& who, AllocationRow& released) = 0;
  virtual StoreError Report(const ReportFilter& filter, std::vector<RunRow>& rows) = 0;
  virtual StoreError Find(const std::string& serial, std::vector<AllocationRow>& allocations,
                          std::vector<RunRow>& runs) = 0;
  // Starts a range where a STATE file left off: the numbers it handed out stay
  // handed out.
  virtual StoreError ImportState(const std::string& statePath) = 0;
};

struct StoreWaits {
  int lockMs = 10000;  // STATE: for another station's lock; SQLite: the busy time-out
  int retries = 5;     // PostgreSQL: transactions tried again after a serialization failure
  // A database store's pending numbers carry a lease, renewed every quarter of
  // it while the store lives (on a connection of its own), so that a release
  // can tell a run that goes on from a station that died.
  int leaseMs = 120000;
  bool renewLeases = true;  // false: the lease is set once (tests of a station that hangs)
};

// A STATE file; the file itself is read on UseRange.
std::unique_ptr<SerialStore> OpenStateStore(const std::string& path, const StoreWaits& waits = {});

// A SQLite station database is made only on purpose (tovrin-cli db init): a
// mistyped name must not start a fresh range beside the line's database.
enum class MissingDatabase { kRefuse, kCreate };

// A postgresql:// (or postgres://) URL or a libpq keyword=value string
// ("dbname=line user=station") is PostgreSQL, anything else a SQLite file.
// Connects and brings the schema up to date; null with the reason in error when
// that fails, when a SQLite file does not exist and may not be created (14), or
// when this build has no database stores.
std::unique_ptr<SerialStore> OpenDatabaseStore(const std::string& target, StoreError& error,
                                               const StoreWaits& waits = {},
                                               MissingDatabase missing = MissingDatabase::kRefuse);
bool IsPostgresTarget(const std::string& target);
// The target as it may be shown: every secret libpq knows (password,
// sslpassword) removed, from a URL or a keyword string.
std::string RedactTarget(const std::string& target);
// `text` with every occurrence of a secret `target` carries replaced.
std::string WithoutPassword(const std::string& target, std::string text);
