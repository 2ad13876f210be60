#pragma once

// One observer for a link that passes every call on to several: a trace and a
// capture of the same run, say. The observers are not owned and are called in
// the order they were added.

#include <string>
#include <vector>

#include "link/link.h"

class LinkObserverFan : public LinkObserver {
 public:
  void Add(LinkObserver* observer) {
    if (observer != nullptr) observers_.push_back(observer);
  }
  bool Empty() const { return observers_.empty(); }

  void Idle() override {
    for (LinkObserver* o : observers_) o->Idle();
  }
  void Trace(const LinkTraceEvent& event) override {
    for (LinkObserver* o : observers_) o->Trace(event);
  }
  void Diagnostic(const std::string& line) override {
    for (LinkObserver* o : observers_) o->Diagnostic(line);
  }

 private:
  std::vector<LinkObserver*> observers_;
};
