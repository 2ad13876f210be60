#include "line/wire_record.h"

#include "line/record_file.h"
#include "common/text.h"

std::string SlotCapturePath(const std::string& path, int slot) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::size_t dot = path.find_last_of('.');
  const bool extension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  const std::string tag = "-slot" + std::to_string(slot);
  return extension ? path.substr(0, dot) + tag + path.substr(dot) : path + tag;
}

bool WireRecord::Open(const std::string& tracePath, const std::string& pcapPath, std::string& message, int slots) {
  if (!tracePath.empty()) {
    trace_ = std::make_unique<WireTrace>();
    if (!trace_->Open(tracePath, message)) {
      trace_.reset();
      return false;
    }
  }
  if (!pcapPath.empty()) {
    std::vector<std::string> paths;
    if (slots > 1) {
      for (int slot = 1; slot <= slots; ++slot) paths.push_back(SlotCapturePath(pcapPath, slot));
    } else {
      paths.push_back(pcapPath);
    }
    for (const std::string& path : paths) {
      // Looked at before it is opened: a FIFO would hold the open for good,
      // and a device keeps nothing.
      Capture capture{path, std::make_unique<PcapWriter>()};
      const std::string kind = NotARecordFile(path);
      if (!kind.empty()) message = "Cannot write the capture " + Printable(path) + ": " + kind;
      if (!kind.empty() || !capture.writer->Open(path, message)) {
        trace_.reset();
        captures_.clear();
        return false;
      }
      captures_.push_back(std::move(capture));
    }
  }
  tracePath_ = tracePath;
  return true;
}

LinkObserver* WireRecord::ObserverFor(int slot, const std::string& interfaceName) {
  const std::lock_guard<std::mutex> lock(observersMutex_);
  auto fan = std::make_unique<LinkObserverFan>();
  if (trace_ && (slot > 0 || !interfaceName.empty())) {
    slotTraces_.push_back(std::make_unique<SlotTrace>(*trace_, slot, interfaceName));
    fan->Add(slotTraces_.back().get());
  } else {
    fan->Add(trace_.get());
  }
  if (!captures_.empty()) {
    const std::size_t index = slot > 0 && captures_.size() > 1 ? static_cast<std::size_t>(slot - 1) : 0;
    fan->Add(captures_.at(index).writer.get());
  }
  if (fan->Empty()) return nullptr;
  fans_.push_back(std::move(fan));
  return fans_.back().get();
}

bool WireRecord::Lost() const {
  if (trace_ && !trace_->Failure().empty()) return true;
  for (const Capture& c : captures_) {
    if (c.writer->Failed()) return true;
  }
  return false;
}

std::vector<std::string> WireRecord::Losses() const {
  std::vector<std::string> losses;
  if (trace_ && !trace_->Failure().empty()) {
    losses.push_back("the trace " + Printable(tracePath_) + " did not take every event: " + trace_->Failure());
  }
  for (const Capture& c : captures_) {
    if (c.writer->Failed()) {
      losses.push_back("the capture " + Printable(c.path) + " did not take every packet: " + c.writer->Error());
    }
  }
  return losses;
}
