#include "line/line_files.h"

#include "common/text.h"
#include "line/record_file.h"
#include "os/files.h"

std::string RunLogSink::Append(const Json& record) {
  const LogWrite logged = AppendRunLog(fd_, record);
  return logged.written ? "" : logged.reason;
}

LineEnding LineFiles::Open(const LineFileNames& names, std::string& text) {
  std::string logError;
  logFd_ = OpenRunLog(names.logFile, logError);
  sink_ = RunLogSink(logFd_);
  std::string wireError;
  // The serial numbers come from STATE, or from the station database, which
  // also records every number's claim and every run.
  StoreError storeError;
  store_ = names.dbTarget.empty() ? OpenStateStore(names.stateFile) : OpenDatabaseStore(names.dbTarget, storeError);
  storeName_ = names.dbTarget.empty() ? names.stateFile : RedactTarget(names.dbTarget);
  keepsRecords_ = !names.dbTarget.empty();
  if (logFd_ < 0) {
    text = "Cannot open the run log " + Printable(names.logFile) + ": " + logError;
    return LineEnding::kRecordLost;
  }
  if (!wireFiles_.Open(names.traceFile, names.pcapFile, wireError, names.slots)) {
    text = wireError;
    return LineEnding::kRecordLost;
  }
  // Looked at before it is read: a FIFO would hold the read for good.
  if (const std::string kind = names.stateFile.empty() ? "" : NotARecordFile(names.stateFile); !kind.empty()) {
    text = "Cannot use the state file " + Printable(names.stateFile) + ": " + kind;
    return LineEnding::kStoreUnusable;
  }
  if (!store_) {
    text = Printable(storeError.message);
    return storeError.Failed() ? EndingOf(storeError.failure) : LineEnding::kStoreUnusable;
  }
  return LineEnding::kNone;
}

void LineFiles::CloseLog() {
  if (logFd_ >= 0) CloseAppendFile(logFd_);
  logFd_ = -1;
}
