#include "line/scanned_serials.h"

#include <chrono>

#include "common/text.h"
#include "os/host.h"

ScannedSerials::ScannedSerials(SerialStore& store, BindingChanged changed)
    : store_(store), changed_(std::move(changed)) {}

void ScannedSerials::Set(const std::string& slot, const Binding* binding) {
  {
    std::lock_guard lock(mutex_);
    if (binding != nullptr) {
      bindings_[slot] = *binding;
    } else {
      bindings_.erase(slot);
    }
  }
  bound_.notify_all();
  if (changed_) changed_(slot, binding != nullptr ? binding->serial : "");
}

BindAnswer ScannedSerials::Bind(const std::string& slot, const std::string& serial) {
  const std::string shown = Printable(serial);
  {
    std::lock_guard lock(mutex_);
    for (const auto& [other, binding] : bindings_) {
      if (binding.serial != serial) continue;
      if (other == slot) return {true, shown + " is already bound to this slot's next board."};
      return {false, "Refused: " + shown + " is already bound to the next board on " + Printable(other) +
                         ". Scan the board's own label."};
    }
  }
  GivenCheck check;
  if (const StoreError e = store_.CheckGiven(serial, check); e.Failed()) {
    return {false, "Refused: the store could not check " + shown + ": " + Printable(e.message)};
  }
  if (!check.Free()) return {false, "Refused: " + Printable(check.words) + ". Scan the board's own label."};
  const Binding binding{serial, UtcNowText()};
  Set(slot, &binding);
  return {true, shown + " is bound to the next board on this slot."};
}

bool ScannedSerials::Await(const std::string& slot, const std::function<void()>& waiting,
                           const std::function<bool()>& stopping) {
  std::unique_lock lock(mutex_);
  if (bindings_.count(slot) > 0) return true;
  lock.unlock();
  waiting();
  for (;;) {
    // Asked without this lock: the line's own is taken first everywhere.
    if (stopping()) return false;
    lock.lock();
    if (bound_.wait_for(lock, std::chrono::milliseconds(scanned_const::kAwaitPollMs),
                        [&] { return bindings_.count(slot) > 0; })) {
      return true;
    }
    lock.unlock();
  }
}

SerialGrant ScannedSerials::Take(const std::string& slot, const BoardClaim& claim) {
  Binding binding;
  {
    std::lock_guard lock(mutex_);
    const auto found = bindings_.find(slot);
    if (found != bindings_.end()) binding = found->second;
  }
  SerialGrant grant;
  if (binding.serial.empty()) {
    grant.refusal = Refusal::kStoreUnsupported;
    grant.message = "No serial number was scanned for this board. Nothing was erased.";
    return grant;
  }
  BoardClaim scanned = claim;
  scanned.scannedAt = binding.at;
  GivenCheck check;
  if (const StoreError e = store_.AllocateGiven(binding.serial, scanned, grant.allocation, check); e.Failed()) {
    return Unserved(e);
  }
  if (!check.Free()) {
    // Taken by another station since it was scanned: never this board's.
    Set(slot, nullptr);
    grant = {};
    grant.refusal = Refusal::kRepeat;
    grant.message = "Serial number refused: " + Printable(check.words) + ". Nothing was erased; scan another label.";
    return grant;
  }
  grant.allocation.scannedAt = binding.at;
  return grant;
}

void ScannedSerials::Ended(const std::string& slot, const std::string& serial, bool passed) {
  if (serial.empty()) return;  // refused before it got its number: the binding waits for the next board
  {
    std::lock_guard lock(mutex_);
    const auto found = bindings_.find(slot);
    if (found == bindings_.end() || found->second.serial != serial) return;  // replaced meanwhile
  }
  if (!passed) {
    // Never written to the failed board: the store took it back, and the
    // slot's next board may have it.
    GivenCheck check;
    if (!store_.CheckGiven(serial, check).Failed() && check.Free()) return;
  }
  Set(slot, nullptr);
}
