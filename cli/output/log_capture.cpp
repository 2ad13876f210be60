#include "cli/output/log_capture.h"

#include "common/log_line.h"

LogCapture::LogCapture(std::FILE* restore) : restore_(restore) {
  // Without a stream for the capture the lines simply go where they went before.
  if (memory_.File() != nullptr) SetLogStream(memory_.File());
}

LogCapture::~LogCapture() { SetLogStream(restore_); }

std::string LogCapture::Text() { return memory_.Text(); }
