#pragma once

// What a production line keeps beside its boards, opened the same way by every
// front end that runs one (tovrin-cli batch, the station): the run log, the
// trace and capture, and the serial store (a STATE file or the station
// database). Each is refused before any board is met.

#include <memory>
#include <string>

#include "line/line_ending.h"
#include "line/production_line.h"
#include "line/run_log.h"
#include "line/wire_record.h"
#include "station/serial_store.h"

// Where the line keeps what it keeps, as the front end was told.
struct LineFileNames {
  std::string logFile;
  std::string traceFile;  // empty: none
  std::string pcapFile;   // empty: none
  std::string stateFile;  // the serial numbers in a STATE file, unless dbTarget
  std::string dbTarget;   // the station database (it also keeps every claim and run)
  int slots = 0;          // the line's network ports (0 or 1: one slot)
};

// The run log, as the line's record sink.
class RunLogSink : public RecordSink {
 public:
  explicit RunLogSink(int fd) : fd_(fd) {}
  std::string Append(const Json& record) override;

 private:
  int fd_;
};

class LineFiles {
 public:
  LineFiles() = default;
  ~LineFiles() { CloseLog(); }
  LineFiles(const LineFiles&) = delete;
  LineFiles& operator=(const LineFiles&) = delete;

  // Opens the log, then the trace and capture, then the store: kNone, or what
  // ends the line before any board with `text` in the operator's words. The
  // store is kept open even when something before it failed to open, for the
  // serial numbers a summary names.
  LineEnding Open(const LineFileNames& names, std::string& text);

  // Null until Open made one.
  SerialStore* Store() { return store_.get(); }
  const std::string& StoreName() const { return storeName_; }
  bool KeepsRecords() const { return keepsRecords_; }
  RecordSink* Log() { return &sink_; }
  // The trace and the capture.
  WireRecord& WireFiles() { return wireFiles_; }
  const WireRecord& WireFiles() const { return wireFiles_; }
  // The run log is closed (again harmless) once the line has ended.
  void CloseLog();

 private:
  int logFd_ = -1;
  RunLogSink sink_{-1};
  WireRecord wireFiles_;
  std::unique_ptr<SerialStore> store_;
  std::string storeName_;
  bool keepsRecords_ = false;
};
