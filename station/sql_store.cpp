// The serial store over a SQL database, one code for SQLite and PostgreSQL.
// A number is handed out in one transaction: the range's row is locked (by the
// write transaction itself on SQLite, FOR UPDATE on PostgreSQL), a number given
// back to the pool is taken first, else the range's next one, and the
// allocation is recorded as pending before the transaction commits. A
// transaction another writer got in the way of is tried again, a bounded number
// of times.

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "common/text.h"
#include "os/system_text.h"
#include "station/serial_numbers.h"
#include "station/serial_state.h"
#include "station/serial_store.h"
#include "station/sql_connection.h"
#include "os/files.h"
#include "os/host.h"
#include "station/store_schema.h"

namespace {

namespace sql_const {
// A STATE file is some 60 bytes, more with numbers given ahead of its next
// one; the import reads no more than the state store would.
constexpr std::size_t kMaxStateBytes = 1024 * 1024;
constexpr const char kAllocationColumns[] =
    "id, serial, state, station, slot, operator_name, sha256, identity_before, allocated_at, finished_at, cause,"
    " released_by, released_at, job_name, job_sha256, job_signer, scanned_at";
constexpr const char kRunColumns[] =
    "id, run_at, command, station, slot, operator_name, serial, sha256, result, record, conflict, job_name,"
    " job_sha256, job_signer";
constexpr int kRenewalsPerLease = 4;  // a lease is renewed this many times before it would run out
}  // namespace sql_const

std::int64_t ToInt(const SqlValue& v) { return v ? std::strtoll(v->c_str(), nullptr, 10) : 0; }
std::string ToText(const SqlValue& v) { return v ? *v : std::string(); }
SqlValue Text(const std::string& s) { return s; }
SqlValue Number(std::int64_t n) { return std::to_string(n); }
SqlValue OrNull(const std::string& s) { return s.empty() ? SqlValue() : SqlValue(s); }

AllocationRow ToAllocation(const SqlRow& r) {
  AllocationRow a;
  a.id = ToInt(r[0]);
  a.serial = ToText(r[1]);
  a.state = ToText(r[2]);
  a.station = ToText(r[3]);
  a.slot = ToText(r[4]);
  a.operatorName = ToText(r[5]);
  a.sha256 = ToText(r[6]);
  a.identityBefore = ToText(r[7]);
  a.allocatedAt = ToText(r[8]);
  a.finishedAt = ToText(r[9]);
  a.cause = ToText(r[10]);
  a.releasedBy = ToText(r[11]);
  a.releasedAt = ToText(r[12]);
  a.jobName = ToText(r[13]);
  a.jobSha256 = ToText(r[14]);
  a.jobSigner = ToText(r[15]);
  a.scannedAt = ToText(r[16]);
  return a;
}

RunRow ToRun(const SqlRow& r) {
  RunRow run;
  run.id = ToInt(r[0]);
  run.at = ToText(r[1]);
  run.record = StoredRun{ToText(r[2]), ToText(r[3]), ToText(r[4]), ToText(r[5]),
                         ToText(r[6]), ToText(r[7]), ToText(r[8]), ToText(r[9]),
                         ToText(r[11]), ToText(r[12]), ToText(r[13])};
  run.conflict = ToText(r[10]);
  return run;
}

// The UTC time `ms` from now, as UtcNowText writes times, so that the two
// compare as text.
std::string UtcTextIn(int ms) {
  using namespace std::chrono;
  return UtcText(time_point_cast<milliseconds>(system_clock::now()) + milliseconds(ms));
}

// Renews the leases of the numbers a store handed out and has not ended, on a
// connection and a thread of its own, so that a run that goes on shows it is
// alive however long its boards take, and one whose process died stops
// renewing. A renewal that fails is tried again next time: at worst the lease
// runs out, and the run's end then finds any release as a conflict.
class LeaseKeeper {
 public:
  LeaseKeeper(std::function<std::unique_ptr<SqlConnection>()> open, int leaseMs)
      : open_(std::move(open)), leaseMs_(leaseMs) {}
  ~LeaseKeeper() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  LeaseKeeper(const LeaseKeeper&) = delete;
  LeaseKeeper& operator=(const LeaseKeeper&) = delete;

  void Hold(std::int64_t id) {
    std::lock_guard lock(mutex_);
    held_.insert(id);
    if (!thread_.joinable()) thread_ = std::thread([this] { Renew(); });
  }
  void Drop(std::int64_t id) {
    std::lock_guard lock(mutex_);
    held_.erase(id);
  }

 private:
  void Renew() {
    std::unique_ptr<SqlConnection> db;
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::milliseconds(leaseMs_ / sql_const::kRenewalsPerLease),
                           [this] { return stop_; })) {
      const std::set<std::int64_t> ids = held_;
      lock.unlock();
      if (!db) db = open_();
      if (db && db->Reconnect().empty()) {
        for (const std::int64_t id : ids) {
          db->Run("UPDATE allocations SET lease_until = $1 WHERE id = $2 AND state = 'pending'",
                  {Text(UtcTextIn(leaseMs_)), Number(id)});
        }
      }
      lock.lock();
    }
  }

  std::function<std::unique_ptr<SqlConnection>()> open_;
  int leaseMs_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::set<std::int64_t> held_;
  bool stop_ = false;
  std::thread thread_;
};

// The states of a number a board has or may have: never handed out again.
constexpr const char kLiveStates[] = "('pending', 'programmed', 'verified', 'failed')";

const char* EndState(const RunEnd& end) {
  switch (end.outcome) {
    case RunOutcome::kProgrammed: return serial_state_name::kProgrammed;
    case RunOutcome::kVerified: return serial_state_name::kVerified;
    case RunOutcome::kFailed: break;
  }
  return end.stampSent ? serial_state_name::kFailed : serial_state_name::kReturned;
}

class SqlStore : public SerialStore {
 public:
  SqlStore(std::unique_ptr<SqlConnection> connection, const std::string& shownTarget, const StoreWaits& waits,
           std::function<std::unique_ptr<SqlConnection>()> reopen)
      : db_(std::move(connection)), target_(shownTarget), waits_(waits) {
    if (waits.renewLeases) keeper_ = std::make_unique<LeaseKeeper>(std::move(reopen), waits.leaseMs);
  }

  const char* Kind() const override { return db_->Engine(); }

  StoreError UseRange(const std::string& first) override {
    SerialParts parts;
    if (!SplitSerial(first, parts) || !IsPrintableSerial(first)) {
      return {StoreFailure::kUnsupported, "the serial number " + first + " does not end in digits that can count up"};
    }
    return Transaction([&]() -> StoreError {
      SqlResult r = Query("SELECT id, first_serial FROM serial_ranges WHERE prefix = $1 AND width = $2",
                          {Text(parts.prefix), Number(static_cast<std::int64_t>(parts.width))});
      if (!r.ok) return Fail(r);
      if (!r.rows.empty()) {
        if (ToText(r.rows[0][1]) != first) {
          return {StoreFailure::kUnusable, "the database " + target_ + " counts these serial numbers from " +
                                               ToText(r.rows[0][1]) + ", not " + first};
        }
        rangeId_ = ToInt(r.rows[0][0]);
        return {};
      }
      const auto value = static_cast<std::int64_t>(parts.value);
      r = Query("INSERT INTO serial_ranges (first_serial, prefix, width, next_value, last_value, imported_until,"
                " created_at) VALUES ($1, $2, $3, $4, $5, $4, $6) RETURNING id",
                {Text(first), Text(parts.prefix), Number(static_cast<std::int64_t>(parts.width)), Number(value),
                 Number(static_cast<std::int64_t>(LargestValue(parts.width))), Text(UtcNowText())});
      if (!r.ok || r.rows.empty()) return Fail(r);
      rangeId_ = ToInt(r.rows[0][0]);
      return {};
    });
  }

  StoreError Next(NextSerialInfo& info) override {
    if (const StoreError e = Begin(true); e.Failed()) return e;
    const SqlResult range =
        Query("SELECT prefix, width, next_value, last_value FROM serial_ranges WHERE id = $1", {Number(rangeId_)});
    const SqlResult pool = Query(
        "SELECT MIN(serial_value), COUNT(*) FROM allocations WHERE range_id = $1 AND state IN ('returned', 'released')"
        " AND reissued = 0",
        {Number(rangeId_)});
    if (!range.ok || range.rows.empty()) return Fail(range);
    if (!pool.ok || pool.rows.empty()) return Fail(pool);
    const std::string prefix = ToText(range.rows[0][0]);
    const auto width = static_cast<std::size_t>(ToInt(range.rows[0][1]));
    const std::int64_t next = ToInt(range.rows[0][2]);
    const std::int64_t last = ToInt(range.rows[0][3]);
    const std::int64_t pooled = ToInt(pool.rows[0][1]);
    info.left = static_cast<std::uint64_t>((next <= last ? last - next + 1 : 0) + pooled);
    if (pooled > 0) {
      info.next = JoinSerial(prefix, width, static_cast<std::uint64_t>(ToInt(pool.rows[0][0])));
    } else {
      info.next = next <= last ? JoinSerial(prefix, width, static_cast<std::uint64_t>(next)) : "";
    }
    return {};
  }

  StoreError Allocate(const BoardClaim& claim, Allocation& allocation) override {
    if (const StoreError e = Begin(true); e.Failed()) return e;
    const StoreError e = Transaction([&]() -> StoreError {
      SqlResult r = Query(std::string("SELECT prefix, width, next_value, last_value, first_serial FROM serial_ranges"
                                      " WHERE id = $1") + db_->ForUpdate(),
                          {Number(rangeId_)});
      if (!r.ok || r.rows.empty()) return Fail(r);
      const std::string prefix = ToText(r.rows[0][0]);
      const auto width = static_cast<std::size_t>(ToInt(r.rows[0][1]));
      const std::int64_t next = ToInt(r.rows[0][2]);
      const std::int64_t last = ToInt(r.rows[0][3]);
      const std::string first = ToText(r.rows[0][4]);
      // A number given back is handed out before a fresh one, lowest first.
      r = Query("SELECT id, serial_value FROM allocations WHERE range_id = $1 AND state IN ('returned', 'released')"
                " AND reissued = 0 ORDER BY serial_value, id LIMIT 1",
                {Number(rangeId_)});
      if (!r.ok) return Fail(r);
      std::int64_t value = 0;
      if (!r.rows.empty()) {
        value = ToInt(r.rows[0][1]);
        const SqlResult taken = Query("UPDATE allocations SET reissued = 1 WHERE id = $1", {r.rows[0][0]});
        if (!taken.ok) return Fail(taken);
      } else {
        // A number scanned from a label ahead of the count was handed out
        // already: the count steps over it.
        for (value = next; value <= last; ++value) {
          const SqlResult live = Query(std::string("SELECT COUNT(*) FROM allocations WHERE range_id = $1 AND"
                                                   " serial_value = $2 AND state IN ") + kLiveStates,
                                       {Number(rangeId_), Number(value)});
          if (!live.ok || live.rows.empty()) return Fail(live);
          if (ToInt(live.rows[0][0]) == 0) break;
        }
        if (value > last) {
          return {StoreFailure::kUsedUp, "the serial numbers from " + first + " are used up (the last was " +
                                             JoinSerial(prefix, width, static_cast<std::uint64_t>(last)) + ")"};
        }
        const SqlResult advanced = Query("UPDATE serial_ranges SET next_value = $2 WHERE id = $1",
                                         {Number(rangeId_), Number(value + 1)});
        if (!advanced.ok) return Fail(advanced);
      }
      const std::string serial = JoinSerial(prefix, width, static_cast<std::uint64_t>(value));
      r = InsertPending(rangeId_, serial, value, claim, "");
      if (!r.ok || r.rows.empty()) return Fail(r);
      allocation = Allocation{ToInt(r.rows[0][0]), serial, ""};
      return {};
    });
    if (!e.Failed() && keeper_) keeper_->Hold(allocation.id);
    return e;
  }

  StoreError AllocateGiven(const std::string& serial, const BoardClaim& claim, Allocation& allocation,
                           GivenCheck& check) override {
    if (const StoreError e = Begin(false); e.Failed()) return e;
    const StoreError e = Transaction([&]() -> StoreError {
      SerialParts parts;
      check = {};
      if (const std::string fault = GivenSerialFault(serial, ""); !fault.empty()) {
        check = {GivenVerdict::kMalformed, Printable(serial) + " is " + fault};
        return {};
      }
      SplitSerial(serial, parts);
      // A range for the number's prefix and width, counting from zero, unless
      // one is there: the range's row is what two stations lock in turn.
      SqlResult r = Query("INSERT INTO serial_ranges (first_serial, prefix, width, next_value, last_value,"
                          " imported_until, created_at) VALUES ($1, $2, $3, 0, $4, 0, $5) ON CONFLICT DO NOTHING",
                          {Text(JoinSerial(parts.prefix, parts.width, 0)), Text(parts.prefix),
                           Number(static_cast<std::int64_t>(parts.width)),
                           Number(static_cast<std::int64_t>(LargestValue(parts.width))), Text(UtcNowText())});
      if (!r.ok) return Fail(r);
      std::int64_t range = 0;
      if (const StoreError found = Given(serial, true, check, range); found.Failed() || !check.Free()) return found;
      const auto value = static_cast<std::int64_t>(parts.value);
      // A number given back to the pool is handed out here, not from the pool again.
      r = Query("UPDATE allocations SET reissued = 1 WHERE range_id = $1 AND serial_value = $2 AND state IN"
                " ('returned', 'released') AND reissued = 0",
                {Number(range), Number(value)});
      if (!r.ok) return Fail(r);
      r = InsertPending(range, serial, value, claim, claim.scannedAt.empty() ? UtcNowText() : claim.scannedAt);
      if (!r.ok || r.rows.empty()) return Fail(r);
      allocation = Allocation{ToInt(r.rows[0][0]), serial, claim.scannedAt};
      return {};
    });
    if (!e.Failed() && check.Free() && keeper_) keeper_->Hold(allocation.id);
    return e;
  }

  StoreError CheckGiven(const std::string& serial, GivenCheck& check) override {
    if (const StoreError e = Begin(false); e.Failed()) return e;
    check = {};
    if (const std::string fault = GivenSerialFault(serial, ""); !fault.empty()) {
      check = {GivenVerdict::kMalformed, Printable(serial) + " is " + fault};
      return {};
    }
    std::int64_t range = 0;
    return Given(serial, false, check, range);
  }

  StoreError Finish(const Allocation& allocation, const RunEnd& end) override {
    if (keeper_) keeper_->Drop(allocation.id);
    if (const StoreError e = Begin(false); e.Failed()) return e;
    std::string conflict;
    const StoreError e = Transaction([&]() -> StoreError {
      conflict.clear();
      // Only a pending row ends here: one a person released meanwhile keeps
      // what the person said, and the run records what it found instead.
      SqlResult r = Query(
          "UPDATE allocations SET state = $2, finished_at = $3, cause = $4 WHERE id = $1 AND state = 'pending'"
          " RETURNING id",
          {Number(allocation.id), Text(EndState(end)), Text(UtcNowText()),
           end.cause.empty() ? SqlValue() : Text(end.cause)});
      if (!r.ok) return Fail(r);
      if (r.rows.empty()) {
        r = Query("SELECT state, released_by, released_at FROM allocations WHERE id = $1", {Number(allocation.id)});
        if (!r.ok || r.rows.empty()) return Fail(r);
        conflict = allocation.serial + " was " + ToText(r.rows[0][0]) +
                   (r.rows[0][1] ? " by " + ToText(r.rows[0][1]) + " at " + ToText(r.rows[0][2]) : std::string()) +
                   " while its run went on, which ended " + EndState(end) + "; the allocation was left as it was";
      }
      return InsertRun(end.record, allocation.id, conflict);
    }, true);
    if (e.Failed() || conflict.empty()) return e;
    return {StoreFailure::kConflict, "conflict: " + conflict};
  }

  StoreError RecordRun(const StoredRun& run) override {
    if (const StoreError e = Begin(false); e.Failed()) return e;
    return Transaction([&]() { return InsertRun(run, 0); }, true);
  }

  StoreError HandedOut(const std::string& serial, bool& handedOut) override {
    if (const StoreError e = Begin(false); e.Failed()) return e;
    handedOut = false;
    SqlResult r = Query("SELECT COUNT(*) FROM allocations WHERE serial = $1 AND state IN"
                        " ('pending', 'programmed', 'verified', 'failed')",
                        {Text(serial)});
    if (!r.ok || r.rows.empty()) return Fail(r);
    if (ToInt(r.rows[0][0]) > 0) {
      handedOut = true;
      return {};
    }
    // Numbers a STATE file handed out before the database took over.
    SerialParts parts;
    if (!SplitSerial(serial, parts)) return {};
    r = Query("SELECT COUNT(*) FROM serial_ranges WHERE prefix = $1 AND width = $2 AND $3 < imported_until AND"
              " first_serial <= $4",
              {Text(parts.prefix), Number(static_cast<std::int64_t>(parts.width)),
               Number(static_cast<std::int64_t>(parts.value)), Text(serial)});
    if (!r.ok || r.rows.empty()) return Fail(r);
    handedOut = ToInt(r.rows[0][0]) > 0;
    return {};
  }

  StoreError Pending(std::vector<AllocationRow>& rows) override {
    if (const StoreError e = Begin(false); e.Failed()) return e;
    const SqlResult r = Query(std::string("SELECT ") + sql_const::kAllocationColumns +
                                  " FROM allocations WHERE state = 'pending' ORDER BY id",
                              {});
    if (!r.ok) return Fail(r);
    rows.clear();
    for (const SqlRow& row : r.rows) rows.push_back(ToAllocation(row));
    return {};
  }

  StoreError Release(const std::string& serial, const std::string& who, AllocationRow& released) override {
    if (const StoreError e = Begin(false); e.Failed()) return e;
    return Transaction([&]() -> StoreError {
      SqlResult r = Query(std::string("SELECT ") + sql_const::kAllocationColumns +
                              " FROM allocations WHERE serial = $1 AND state = 'pending' ORDER BY id DESC LIMIT 1",
                          {Text(serial)});
      if (!r.ok) return Fail(r);
      if (r.rows.empty()) return {StoreFailure::kUnsupported, "no pending allocation of " + serial + " to release"};
      released = ToAllocation(r.rows[0]);
      const std::string now = UtcNowText();
      r = Query("SELECT lease_until FROM allocations WHERE id = $1", {Number(released.id)});
      if (!r.ok || r.rows.empty()) return Fail(r);
      const std::string leaseUntil = ToText(r.rows[0][0]);
      if (leaseUntil > now) {
        return {StoreFailure::kLeaseHeld, serial + " is still being programmed: station " + released.station +
                                              " renewed its lease until " + leaseUntil +
                                              "; it may be released after that, if its run has not ended"};
      }
      r = Query("UPDATE allocations SET state = 'released', released_by = $2, released_at = $3, finished_at = $3"
                " WHERE id = $1 AND state = 'pending'",
                {Number(released.id), Text(who), Text(now)});
      if (!r.ok) return Fail(r);
      released.state = serial_state_name::kReleased;
      released.releasedBy = who;
      released.releasedAt = now;
      released.finishedAt = now;
      return {};
    });
  }

  StoreError Report(const ReportFilter& filter, std::vector<RunRow>& rows) override {
    if (const StoreError e = Begin(false); e.Failed()) return e;
    std::string sql = std::string("SELECT ") + sql_const::kRunColumns + " FROM runs WHERE 1 = 1";
    std::vector<SqlValue> params;
    const auto add = [&](const std::string& value, const char* condition) {
      if (value.empty()) return;
      params.push_back(value);
      sql += std::string(" AND ") + condition + " $" + std::to_string(params.size());
    };
    add(filter.serial, "serial =");
    add(filter.from, "run_at >=");
    add(filter.to, "run_at <=");
    add(filter.station, "station =");
    add(filter.result, "result =");
    add(filter.job, "job_name =");
    const SqlResult r = Query(sql + " ORDER BY id", params);
    if (!r.ok) return Fail(r);
    rows.clear();
    for (const SqlRow& row : r.rows) rows.push_back(ToRun(row));
    return {};
  }

  StoreError Find(const std::string& serial, std::vector<AllocationRow>& allocations,
                  std::vector<RunRow>& runs) override {
    if (const StoreError e = Begin(false); e.Failed()) return e;
    SqlResult r = Query(std::string("SELECT ") + sql_const::kAllocationColumns +
                            " FROM allocations WHERE serial = $1 ORDER BY id",
                        {Text(serial)});
    if (!r.ok) return Fail(r);
    allocations.clear();
    for (const SqlRow& row : r.rows) allocations.push_back(ToAllocation(row));
    r = Query(std::string("SELECT ") + sql_const::kRunColumns + " FROM runs WHERE serial = $1 ORDER BY id",
              {Text(serial)});
    if (!r.ok) return Fail(r);
    runs.clear();
    for (const SqlRow& row : r.rows) runs.push_back(ToRun(row));
    return {};
  }

  StoreError ImportState(const std::string& statePath) override {
    if (const StoreError e = Begin(false); e.Failed()) return e;
    const FileBytes read = ReadRegularFile(statePath, sql_const::kMaxStateBytes);
    if (read.status != FileReadStatus::kRead) {
      const std::string reason = read.status == FileReadStatus::kMissing ? "no such file" : read.reason;
      return {StoreFailure::kUnusable, "cannot read the state file " + statePath + ": " + reason};
    }
    const std::string& text = read.bytes;
    // The range's first number is whatever the file says; it is checked as a
    // batch would check it.
    SerialState state;
    std::string error;
    std::string first;
    if (!FirstOfState(text, first) || !ParseSerialState(text, statePath, first, state, error)) {
      return {StoreFailure::kUnusable, error.empty() ? "the state file " + statePath + " is not a serial number state"
                                                     : error};
    }
    SerialParts from;
    SerialParts next;
    SplitSerial(state.first, from);
    SplitSerial(state.next, next);
    auto handedUntil = static_cast<std::int64_t>(state.exhausted ? next.value + 1 : next.value);
    // Numbers the file gave ahead of its next one: the database hands out
    // nothing up to the last of them (the gap is given up, never repeated).
    for (const std::string& given : state.given) {
      SerialParts g;
      if (SplitSerial(given, g)) handedUntil = std::max(handedUntil, static_cast<std::int64_t>(g.value) + 1);
    }
    return Transaction([&]() -> StoreError {
      SqlResult r = Query("SELECT first_serial FROM serial_ranges WHERE prefix = $1 AND width = $2",
                          {Text(from.prefix), Number(static_cast<std::int64_t>(from.width))});
      if (!r.ok) return Fail(r);
      if (!r.rows.empty()) {
        return {StoreFailure::kUnusable, "the database " + target_ + " already counts these serial numbers from " +
                                             ToText(r.rows[0][0])};
      }
      r = Query("INSERT INTO serial_ranges (first_serial, prefix, width, next_value, last_value, imported_until,"
                " created_at) VALUES ($1, $2, $3, $4, $5, $4, $6)",
                {Text(state.first), Text(from.prefix), Number(static_cast<std::int64_t>(from.width)),
                 Number(handedUntil), Number(static_cast<std::int64_t>(LargestValue(from.width))), Text(UtcNowText())});
      if (!r.ok) return Fail(r);
      return {};
    });
  }

 private:
  static bool FirstOfState(const std::string& text, std::string& first);

  // Every call starts here: a connection lost since the last call (a restarted
  // server) is opened again, and a call that needs a range has one.
  StoreError Begin(bool needsRange) {
    const std::string lost = db_->Reconnect();
    if (!lost.empty()) return {StoreFailure::kUnusable, "cannot reach the database " + target_ + ": " + lost};
    if (needsRange && rangeId_ == 0) return {StoreFailure::kUnsupported, "no serial number range chosen"};
    return {};
  }

  SqlResult Query(const std::string& sql, const std::vector<SqlValue>& params) { return db_->Run(sql, params); }

  // The allocation of `serial` to the claim, pending, its lease starting;
  // `scannedAt` empty for a number counted from the range. Returns its id.
  SqlResult InsertPending(std::int64_t range, const std::string& serial, std::int64_t value, const BoardClaim& claim,
                          const std::string& scannedAt) {
    return Query("INSERT INTO allocations (range_id, serial, serial_value, state, station, slot, operator_name, sha256,"
                 " identity_before, allocated_at, lease_until, job_name, job_sha256, job_signer, scanned_at)"
                 " VALUES ($1, $2, $3, 'pending', $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14) RETURNING id",
                 {Number(range), Text(serial), Number(value), Text(claim.station), Text(claim.slot),
                  Text(claim.operatorName), Text(claim.sha256), Text(claim.identityBefore), Text(UtcNowText()),
                  Text(UtcTextIn(waits_.leaseMs)), OrNull(claim.jobName), OrNull(claim.jobSha256),
                  OrNull(claim.jobSigner), OrNull(scannedAt)});
  }

  // What the database holds of `serial`, a serial number: its range (0: none
  // yet; locked for the transaction when `lock`), and whether it may be handed
  // out.
  StoreError Given(const std::string& serial, bool lock, GivenCheck& check, std::int64_t& range) {
    SerialParts parts;
    SplitSerial(serial, parts);
    SqlResult r = Query(std::string("SELECT id, first_serial, imported_until FROM serial_ranges WHERE prefix = $1 AND"
                                    " width = $2") + (lock ? db_->ForUpdate() : ""),
                        {Text(parts.prefix), Number(static_cast<std::int64_t>(parts.width))});
    if (!r.ok) return Fail(r);
    if (!r.rows.empty()) {
      range = ToInt(r.rows[0][0]);
      if (const std::string fault = GivenSerialFault(serial, ToText(r.rows[0][1])); !fault.empty()) {
        check = {GivenVerdict::kMalformed, serial + " is " + fault};
        return {};
      }
      if (static_cast<std::int64_t>(parts.value) < ToInt(r.rows[0][2])) {
        check = {GivenVerdict::kProgrammed,
                 serial + " was handed out before, by the state file the database " + target_ + " took over from"};
        return {};
      }
    }
    r = Query(std::string("SELECT state, station, slot FROM allocations WHERE serial = $1 AND state IN ") +
                  kLiveStates + " ORDER BY id DESC LIMIT 1",
              {Text(serial)});
    if (!r.ok) return Fail(r);
    if (r.rows.empty()) return {};
    const std::string state = ToText(r.rows[0][0]);
    const std::string where = "station " + ToText(r.rows[0][1]) + ", slot " + ToText(r.rows[0][2]);
    if (state == serial_state_name::kPending) {
      check = {GivenVerdict::kPending, serial + " is pending: handed out to " + where + ", its run not ended"};
    } else {
      check = {GivenVerdict::kProgrammed, serial + " was handed out before (" + state + " on " + where + ")"};
    }
    return {};
  }

  StoreError Fail(const SqlResult& r) {
    retryable_ = retryable_ || r.retry;
    if (r.denied) return {StoreFailure::kUnusable, "the database " + target_ + ": the role lacks the right: " + r.error};
    return {StoreFailure::kUnusable, "the database " + target_ + ": " + (r.ok ? "no row where one was expected" : r.error)};
  }

  // `body` inside a write transaction; tried again while another writer got in
  // its way, at most waits_.retries times in all.
  // A lazy transaction's commit does not wait for the disk (see
  // SqlConnection::LazyCommitBefore). Runs' ends and records are lazy: lost in a
  // power cut, a number stays pending, which never hands it out again; and the
  // next allocation's own flush writes everything committed before it, so a
  // number given back can never be handed out again durably while its return
  // is lost.
  StoreError Transaction(const std::function<StoreError()>& body, bool lazy = false) {
    for (int attempt = 1;; ++attempt) {
      retryable_ = false;
      if (lazy && !db_->LazyCommitInside()) Query(db_->LazyCommitBefore(), {});
      SqlResult begin = Query(db_->BeginWrite(), {});
      if (begin.ok && lazy && db_->LazyCommitInside()) begin = Query(db_->LazyCommitBefore(), {});
      StoreError e = begin.ok ? body() : Fail(begin);
      if (!e.Failed()) {
        const SqlResult commit = Query("COMMIT", {});
        if (commit.ok) {
          if (lazy) Query(db_->LazyCommitAfter(), {});
          return {};
        }
        e = Fail(commit);
      }
      Query("ROLLBACK", {});
      if (lazy) Query(db_->LazyCommitAfter(), {});
      if (!retryable_ || attempt >= waits_.retries) return e;
    }
  }

  // A conflict goes into the run's row and into its record, so that the
  // record read back alone tells it too.
  StoreError InsertRun(const StoredRun& run, std::int64_t allocationId, const std::string& conflict = "") {
    std::string json = run.json;
    if (!conflict.empty()) {
      nlohmann::json record = nlohmann::json::parse(run.json, nullptr, false);
      if (record.is_object()) {
        record["conflict"] = conflict;
        json = record.dump();
      }
    }
    const SqlResult r = Query(
        "INSERT INTO runs (allocation_id, run_at, command, station, slot, operator_name, serial, sha256, result, record,"
        " conflict, job_name, job_sha256, job_signer) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13,"
        " $14)",
        {allocationId != 0 ? Number(allocationId) : SqlValue(), Text(UtcNowText()), Text(run.command),
         Text(run.station), Text(run.slot), Text(run.operatorName), run.serial.empty() ? SqlValue() : Text(run.serial),
         Text(run.sha256), Text(run.result), Text(json), conflict.empty() ? SqlValue() : Text(conflict),
         OrNull(run.jobName), OrNull(run.jobSha256), OrNull(run.jobSigner)});
    return r.ok ? StoreError{} : Fail(r);
  }

  std::unique_ptr<SqlConnection> db_;
  std::string target_;  // as it may be shown: no password
  StoreWaits waits_;
  std::unique_ptr<LeaseKeeper> keeper_;  // last: its thread ends before the rest goes
  std::int64_t rangeId_ = 0;
  bool retryable_ = false;
};

// Whether nothing is at the path (a dangling link counts as nothing).
bool SqliteFileMissing(const std::string& path) {
  std::error_code ec;
  return !std::filesystem::exists(PathFromUtf8(path), ec) && !ec;
}

bool SqlStore::FirstOfState(const std::string& text, std::string& first) {
  const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  if (!j.is_object() || !j.contains("first") || !j["first"].is_string()) return false;
  first = j["first"].get<std::string>();
  return true;
}

}  // namespace

std::unique_ptr<SerialStore> OpenDatabaseStore(const std::string& target, StoreError& error, const StoreWaits& waits,
                                               MissingDatabase missing) {
  const std::string shown = RedactTarget(target);
  std::string reason;
  const bool postgres = IsPostgresTarget(target);
  std::unique_ptr<SqlConnection> connection =
      postgres ? OpenPostgres(target, reason)
               : OpenSqlite(target, waits.lockMs, missing == MissingDatabase::kCreate, reason);
  if (!connection && !postgres && missing == MissingDatabase::kRefuse && SqliteFileMissing(target)) {
    error = {StoreFailure::kUnusable, "the SQLite database " + shown +
                                          " does not exist; create it on purpose with: tovrin-cli db init " + shown};
    return nullptr;
  }
  if (!connection) {
    error = {StoreFailure::kUnusable, "cannot open the database " + shown + ": " + WithoutPassword(target, reason)};
    return nullptr;
  }
  error = MigrateSchema(*connection);
  if (error.Failed()) {
    error.message = "the database " + shown + ": " + WithoutPassword(target, error.message);
    return nullptr;
  }
  // The lease keeper's own connection, to the database just opened.
  auto reopen = [target, postgres, waits]() -> std::unique_ptr<SqlConnection> {
    std::string ignored;
    return postgres ? OpenPostgres(target, ignored) : OpenSqlite(target, waits.lockMs, false, ignored);
  };
  return std::make_unique<SqlStore>(std::move(connection), shown, waits, reopen);
}
