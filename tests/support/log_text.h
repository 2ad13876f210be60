#pragma once

// LogLine output, captured for a test to read.

#include <cstdio>
#include <string>

#include "common/log_line.h"

// Captures LogLine output for the life of the object.
class LogCapture {
 public:
  LogCapture() : file_(std::tmpfile()) { SetLogStream(file_); }
  ~LogCapture() {
    SetLogStream(nullptr);
    std::fclose(file_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  std::string Text() {
    std::fflush(file_);
    std::rewind(file_);
    std::string text;
    for (int c; (c = std::fgetc(file_)) != EOF;) text += static_cast<char>(c);
    return text;
  }

 private:
  std::FILE* file_;
};
