#pragma once

// Serial numbers scanned from the boards' labels, one bound to each slot's next
// board: a keyboard-wedge scanner types the number and Enter into the slot's
// field, and the front end binds it here. A number is refused at once when it
// is malformed, was handed out before (the store says so), or is bound to
// another slot; the store allocates it when its board comes, and refuses it
// then if another station took it meanwhile. A slot whose board comes with no
// number bound waits for one (Await), outside the line's lock.
//
// A bound number stays bound until its board passes, or another is scanned
// for the slot. A board that fails keeps its number only where the store says
// it was never written to it (returned to the pool): then the slot's next
// board gets it; otherwise it is unbound, and the failed board keeps it, as a
// board that failed keeps a number counted from the range.

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "line/production_line.h"

namespace scanned_const {
constexpr int kAwaitPollMs = 100;  // how often a slot waiting for a scan asks whether to stop
}  // namespace scanned_const

class ScannedSerials : public SerialSource {
 public:
  // Told of every change of a slot's binding (empty serial: none), with the
  // line's lock held: it must not call back into the line.
  using BindingChanged = std::function<void(const std::string& slot, const std::string& serial)>;

  ScannedSerials(SerialStore& store, BindingChanged changed);

  SerialGrant Take(const std::string& slot, const BoardClaim& claim) override;
  std::string Next() override { return ""; }  // each slot has its own
  bool Await(const std::string& slot, const std::function<void()>& waiting,
             const std::function<bool()>& stopping) override;
  BindAnswer Bind(const std::string& slot, const std::string& serial) override;
  void Ended(const std::string& slot, const std::string& serial, bool passed) override;

 private:
  struct Binding {
    std::string serial;
    std::string at;  // when it was scanned (UTC)
  };
  void Set(const std::string& slot, const Binding* binding);

  SerialStore& store_;
  BindingChanged changed_;
  std::mutex mutex_;  // guards bindings_; taken after the line's lock, never before
  std::condition_variable bound_;
  std::map<std::string, Binding> bindings_;
};
