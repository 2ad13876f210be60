#include "cli/output/wire_record.h"

#include "cli/exit_codes.h"
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

int WireRecord::Finish(int status, std::FILE* err) const {
  if (trace_ && trace_->Failed()) {
    std::fprintf(err, "tovrin-cli: the trace %s did not take every event: %s\n", Printable(tracePath_).c_str(),
                 trace_->Error().c_str());
    status = exit_code::kLogUnwritable;
  }
  if (pcap_ && pcap_->Failed()) {
    std::fprintf(err, "tovrin-cli: the capture %s did not take every packet: %s\n", Printable(pcapPath_).c_str(),
                 pcap_->Error().c_str());
    status = exit_code::kLogUnwritable;
  }
  return status;
}
