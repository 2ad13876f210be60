#include "cli/log_capture.h"

#include <cstdlib>

#include "common/log_line.h"

LogCapture::LogCapture(std::FILE* restore) : restore_(restore) {
  stream_ = open_memstream(&buffer_, &size_);
  // Without memory for the capture the lines simply go where they went before.
  if (stream_ != nullptr) SetLogStream(stream_);
}

LogCapture::~LogCapture() {
  SetLogStream(restore_);
  if (stream_ != nullptr) std::fclose(stream_);
  std::free(buffer_);
}

std::string LogCapture::Text() {
  if (stream_ == nullptr) return "";
  std::fflush(stream_);
  return std::string(buffer_, size_);
}
