#pragma once

// The core's diagnostic lines, gathered for a test to read: a loader's from
// its report, a link's from its observer.

#include <string>
#include <vector>

#include "flash/flash_image.h"
#include "link/link.h"

// Every line of a load report, one after another.
inline std::string Lines(const LoadReport& report) {
  std::string text;
  for (const std::string& line : report.diagnostics) text += line;
  return text;
}

// Watches a link and keeps what it says.
class DiagnosticLog : public LinkObserver {
 public:
  void Diagnostic(const std::string& line) override { text_ += line; }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};
