// The STATE file as a store. Each allocation takes the lock beside the file,
// reads the file again (another station may have advanced it), advances it
// durably and lets go: stations sharing the file interleave their numbers and
// never repeat one.

#include <filesystem>
#include <system_error>

#include "station/serial_numbers.h"
#include "station/serial_state.h"
#include "common/text.h"
#include "os/files.h"
#include "os/system_text.h"
#include "station/serial_store.h"

namespace {

namespace state_const {
// A state is some 60 bytes, more while scanned numbers wait in "given" for
// "next" (some 10 bytes each); anything near this is not one, and is not read whole.
constexpr std::size_t kMaxStateBytes = 1024 * 1024;
// Links followed before a loop is assumed, as the system's own limit.
constexpr int kMaxLinks = 40;
constexpr const char kLockSuffix[] = ".lock";
}  // namespace state_const

// The file a link points at, through any chain of links: the temporary file and
// the rename must happen beside it, or the link would be replaced by a file and
// the shared state would never advance.
std::string FollowLinks(const std::string& path) {
  std::filesystem::path p = PathFromUtf8(path);
  for (int i = 0; i < state_const::kMaxLinks; ++i) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(p, ec)) break;
    const std::filesystem::path target = std::filesystem::read_symlink(p, ec);
    if (ec) break;
    p = target.is_absolute() ? target : p.parent_path() / target;
  }
  return Utf8FromPath(p);
}

StoreError Unusable(const std::string& message) { return {StoreFailure::kUnusable, message}; }

class StateStore : public SerialStore {
 public:
  StateStore(const std::string& path, const StoreWaits& waits) : path_(path), waits_(waits) {}

  const char* Kind() const override { return "STATE"; }

  StoreError UseRange(const std::string& first) override {
    SerialParts parts;
    if (!SplitSerial(first, parts) || !IsPrintableSerial(first)) {
      return {StoreFailure::kUnsupported, "the serial number " + first + " does not end in digits that can count up"};
    }
    from_ = first;
    SerialState state;
    return Load(state);
  }

  StoreError Next(NextSerialInfo& info) override {
    SerialState state;
    const StoreError e = Load(state);
    if (e.Failed()) return e;
    info.next = state.exhausted ? "" : state.next;
    info.left = SerialsLeft(state);
    return {};
  }

  StoreError Allocate(const BoardClaim& /*claim*/, Allocation& allocation) override {
    const std::string target = FollowLinks(path_);
    FileLock lock;
    std::string error;
    if (!lock.Acquire(target + state_const::kLockSuffix, waits_.lockMs, error)) return Unusable(error);
    SerialState state;
    const StoreError e = Load(state);
    if (e.Failed()) return e;
    if (state.exhausted) {
      return {StoreFailure::kUsedUp,
              "the serial numbers from " + state.first + " are used up (the last was " + state.next + ")"};
    }
    if (!ReplaceFileDurably(target, SerialStateText(Advanced(state)), error)) return Unusable(error);
    allocation = Allocation{0, state.next, {}};
    return {};
  }

  StoreError AllocateGiven(const std::string& serial, const BoardClaim& /*claim*/, Allocation& allocation,
                           GivenCheck& check) override {
    const std::string target = FollowLinks(path_);
    FileLock lock;
    std::string error;
    if (!lock.Acquire(target + state_const::kLockSuffix, waits_.lockMs, error)) return Unusable(error);
    SerialState state;
    if (const StoreError e = Load(state, serial); e.Failed()) return e;
    check = Given(state, serial);
    if (!check.Free()) return {};
    if (!ReplaceFileDurably(target, SerialStateText(WithGiven(state, serial)), error)) return Unusable(error);
    allocation = Allocation{0, serial, ""};
    return {};
  }

  StoreError CheckGiven(const std::string& serial, GivenCheck& check) override {
    SerialState state;
    if (const StoreError e = Load(state, serial); e.Failed()) return e;
    check = Given(state, serial);
    return {};
  }

  // STATE cannot take a number back: a run that failed keeps its number.
  StoreError Finish(const Allocation&, const RunEnd&) override { return {}; }
  StoreError RecordRun(const StoredRun&) override { return {}; }

  StoreError HandedOut(const std::string& serial, bool& handedOut) override {
    SerialState state;
    const StoreError e = Load(state);
    if (e.Failed()) return e;
    handedOut = ::HandedOut(state, serial);
    return {};
  }

  StoreError Pending(std::vector<AllocationRow>&) override { return NoRecords(); }
  StoreError Release(const std::string&, const std::string&, AllocationRow&) override { return NoRecords(); }
  StoreError Report(const ReportFilter&, std::vector<RunRow>&) override { return NoRecords(); }
  StoreError Find(const std::string&, std::vector<AllocationRow>&, std::vector<RunRow>&) override {
    return NoRecords();
  }
  StoreError ImportState(const std::string&) override { return NoRecords(); }

 private:
  static StoreError NoRecords() {
    return {StoreFailure::kUnsupported, "a STATE file keeps no records of numbers or runs; give a database with --db"};
  }

  // STATE keeps no pending numbers apart: one handed out is kept for good.
  GivenCheck Given(const SerialState& state, const std::string& serial) const {
    const std::string fault = GivenSerialFault(serial, state.first);
    if (!fault.empty()) return {GivenVerdict::kMalformed, Printable(serial) + " is " + fault};
    if (::HandedOut(state, serial)) {
      return {GivenVerdict::kProgrammed, serial + " was handed out before (the state file " + path_ + ")"};
    }
    return {};
  }

  // Only "no such file" starts a new range: a file that is there but cannot be
  // read (no permission, a folder, an I/O error) would otherwise restart the
  // numbering at the range's first number. A line of scanned numbers chooses
  // no range: a new file's range is the first number given's prefix and width,
  // counting from zero.
  StoreError Load(SerialState& state, const std::string& given = "") const {
    const std::string target = FollowLinks(path_);
    const FileBytes read = ReadRegularFile(target, state_const::kMaxStateBytes);
    if (read.status == FileReadStatus::kMissing) {
      SerialParts parts;
      state = FreshState(!from_.empty() || !SplitSerial(given, parts) ? from_ : JoinSerial(parts.prefix, parts.width, 0));
      return {};
    }
    if (read.status != FileReadStatus::kRead) return Unusable("cannot read the state file " + path_ + ": " + read.reason);
    std::string error;
    if (!ParseSerialState(read.bytes, path_, from_, state, error)) return Unusable(error);
    return {};
  }

  std::string path_;
  StoreWaits waits_;
  std::string from_;
};

}  // namespace

std::unique_ptr<SerialStore> OpenStateStore(const std::string& path, const StoreWaits& waits) {
  return std::make_unique<StateStore>(path, waits);
}
