#include "vocabulary/vocabulary.h"

#include <cstdarg>
#include <cstdio>

#include "common/diagnostic_line.h"

namespace {

// Text up to the first NUL within [from, from + length) of the identity block.
std::string IdentityText(const IdentityBlock& block, int from, int length) {
  std::string text;
  for (int i = from; i < from + length && block[i] != 0; ++i) text += static_cast<char>(block[i]);
  return text;
}

// Every message with a number goes through here with a literal format, which
// the compiler checks against its arguments.
__attribute__((format(TOVRIN_PRINTF_FORMAT, 1, 2))) std::string Format(const char* format, ...) {
  char text[kMessageCapacity];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string Hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
  return text;
}

}  // namespace

std::string ConnectFailedMessage(int error) {
  return Format("Failed to connection to the Varnel board. Error = %d.\n", error);
}

std::string SocketsNotStartedMessage(int error) { return Format("WinSocket not started error = %d.\n", error); }

std::string VerifyFailedMessage(std::uint32_t address) {
  return Format("Verify failed at 0x%05X", static_cast<unsigned>(address));
}

const char* ProgramResultMessage(int result) {
  switch (static_cast<ProgramResult>(result)) {
    case kProgramDone: return "Download Successful";
    case kProgramDataError: return "Error in S Record data";
    case kProgramChecksumError: return "Error in S Record check sum";
    case kProgramEraseFailed: return "Abort Erase Flash";
    case kProgramFrameFailed: return "Abort Program Flash";
    case kProgramLockFailed: return "Abort lock flash and reset CPU";
    case kProgramFileNotOpened: return "Cannot open S Record file";
    case kProgramVerifyFailed: return "Verify failed";
    case kProgramInterrupted: return "Programming interrupted";
  }
  return "Unknown programming result";
}

std::string ProgramRunMessage(const ProgramRun& run) {
  if (run.result == kProgramVerifyFailed && run.boardChanged) return msg::kBoardChanged;
  if (run.result == kProgramVerifyFailed) return VerifyFailedMessage(run.address);
  return ProgramResultMessage(run.result);
}

IdentityTexts DescribeIdentity(const IdentityBlock& block) {
  return {IdentityText(block, identity::kRevisionAt, 1),
          IdentityText(block, identity::kSerialAt, identity::kSerialMax),
          IdentityText(block, identity::kHardwareAt, identity::kHardwareLength)};
}

const char* LinkTypeText(LinkMode mode) { return mode == LinkMode::kTcp ? "TCP" : "UDP"; }

const char* CommandName(LinkCommand command) {
  switch (command) {
    case LinkCommand::kRead: return "read";
    case LinkCommand::kErase: return "erase";
    case LinkCommand::kProgram: return "program";
    case LinkCommand::kLock: return "lock";
  }
  return "unknown";
}

std::string FlashAddress(std::uint32_t address) { return Format("0x%05X", static_cast<unsigned>(address)); }

std::string DescribeOutcome(const LinkOutcome& o) {
  switch (o.cause) {
    case LinkCause::kAccepted: return "accepted";
    case LinkCause::kNoReply: return "no reply within " + std::to_string(o.waitMs) + " ms";
    case LinkCause::kSocketError: return "socket error " + std::to_string(o.socketError);
    case LinkCause::kRefused: return "board refused (" + Hex2(o.ack) + " instead of 0x4F)";
    case LinkCause::kMalformed:
      if (o.badChecksum) return "malformed reply (checksum does not match)";
      return "malformed reply (" + std::to_string(o.length) + " bytes, expected " +
             std::to_string(o.expectedLength) + ")";
    case LinkCause::kWrongEcho:
      return "wrong echo (expected address " + FlashAddress(o.expectedAddress) + ", received " +
             FlashAddress(o.echoedAddress) + ")";
  }
  return "unknown";
}
