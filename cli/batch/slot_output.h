#pragma once

// What a slot of a batch tells the person at the station, event by event. A
// batch on one port prints its lines as it always has; a gang shows one line
// per slot on a terminal, or one line per event tagged with the slot.

#include <string>

#include "flash/program_image.h"
#include "link/link.h"
#include "run/run_record.h"
#include "run/run_report.h"
#include "vocabulary/vocabulary.h"

// How a slot's work went, for the batch's summary.
struct SlotSummary {
  int programmed = 0;
  int failed = 0;  // refused boards included
  std::string firstSerial;
  std::string lastSerial;
  double programmedSeconds = 0;
  int status = 0;  // what ended this slot before its time, if anything
  std::string ending;
};

// "Board over UDP: serial number F001, hardware VR32; programming serial number SN0004"
std::string ProgrammingText(LinkMode transport, const IdentityTexts& found, const std::string& serial);
// "SN0004: Download Successful", or the message alone for a board refused before
// it got a number.
std::string BoardResultText(const std::string& serial, const RunReport& report);

class SlotOutput {
 public:
  virtual ~SlotOutput() = default;
  virtual void Waiting(const std::string& nextSerial) = 0;
  virtual void Programming(LinkMode transport, const IdentityTexts& found, const std::string& serial) = 0;
  // The run's progress, from its start to its end; asked for once per run.
  virtual ProgramObserver& StartProgress() = 0;
  virtual void BoardDone(const std::string& serial, const RunReport& report, const Json& record) = 0;
  virtual void WaitingToGo() = 0;
  virtual void Ended(const SlotSummary& summary) = 0;
};
