#include "cli/output/wire_record.h"

#include "cli/exit_codes.h"
#include "cli/output/record_file.h"
#include "cli/output/text_output.h"

int WireRecord::Open(const std::string& tracePath, const std::string& pcapPath, std::string& message) {
  if (!tracePath.empty()) {
    trace_ = std::make_unique<CliTrace>();
    if (!trace_->Open(tracePath, message)) {
      trace_.reset();
      return exit_code::kLogUnwritable;
    }
  }
  if (!pcapPath.empty()) {
    // Looked at before it is opened: a FIFO would hold the open for good, and a
    // device keeps nothing.
    if (const std::string kind = NotARecordFile(pcapPath); !kind.empty()) {
      message = "Cannot write the capture " + Printable(pcapPath) + ": " + kind;
      trace_.reset();
      return exit_code::kLogUnwritable;
    }
    pcap_ = std::make_unique<PcapWriter>();
    if (!pcap_->Open(pcapPath, message)) {
      trace_.reset();
      pcap_.reset();
      return exit_code::kLogUnwritable;
    }
  }
  tracePath_ = tracePath;
  pcapPath_ = pcapPath;
  fan_.Add(trace_.get());
  fan_.Add(pcap_.get());
  return 0;
}

bool WireRecord::Lost() const { return (trace_ && !trace_->Failure().empty()) || (pcap_ && pcap_->Failed()); }

int WireRecord::Finish(int status, std::FILE* err) const {
  if (trace_ && !trace_->Failure().empty()) {
    std::fprintf(err, "tovrin-cli: the trace %s did not take every event: %s\n", Printable(tracePath_).c_str(),
                 trace_->Failure().c_str());
    status = exit_code::kLogUnwritable;
  }
  if (pcap_ && pcap_->Failed()) {
    std::fprintf(err, "tovrin-cli: the capture %s did not take every packet: %s\n", Printable(pcapPath_).c_str(),
                 pcap_->Error().c_str());
    status = exit_code::kLogUnwritable;
  }
  return status;
}
