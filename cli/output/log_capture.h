#pragma once

// Takes the core's LogLine output for a while: to quote the loader's own words
// in a report, or to keep a trial load from printing a second copy of what the
// real run will print.

#include <cstdio>
#include <string>

#include "os/files.h"

class LogCapture {
 public:
  // LogLine goes to `restore` again when the capture ends.
  explicit LogCapture(std::FILE* restore);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string Text();  // everything logged since the capture began

 private:
  std::FILE* restore_;
  MemoryStream memory_;
};
