#pragma once

// What the tool says to people, in one place for every front end: the result
// texts, the messages, the identity record as text, the link's name, the limits
// of the identity fields, and why an exchange failed.

#include <cstdint>
#include <string>

#include "flash/program_board.h"
#include "link/frames.h"
#include "link/link.h"
#include "link/protocol.h"

namespace msg {
constexpr const char* kConnectFailed = "Failed to connection to the Varnel board. Error = %d.\n";
constexpr const char* kIdentityFailed = "Failed to upload current Serial number and Rev.";
constexpr const char* kNoConnection = "No Connection to the Varnel board.";
constexpr const char* kNoFileName = "No File Name.";
constexpr const char* kVerifyFailed = "Verify failed at 0x%05X";
constexpr const char* kSocketsNotStarted = "WinSocket not started error = %d.\n";
}  // namespace msg

// Messages are formatted into a text of this many bytes.
constexpr int kMessageCapacity = 100;
std::string FormatMessage(const char* format, int value);

// The identity fields the operator may edit.
constexpr int kSerialNumberMax = identity::kSerialMax;  // characters
constexpr int kRevisionMax = 1;                         // characters

// The operator's text for a ProgramResult.
const char* ProgramResultMessage(int result);
// The same for a run: a failed verify names the first address that differs.
std::string ProgramRunMessage(const ProgramRun& run);

// The identity record's fields as the window shows them: each up to its first
// NUL, the serial number at most identity::kSerialMax characters.
struct IdentityTexts {
  std::string revision;
  std::string serialNumber;
  std::string hardware;
};
IdentityTexts DescribeIdentity(const IdentityBlock& block);

// "TCP" or "UDP" for a LinkMode.
const char* LinkTypeText(int mode);

// "read", "erase", "program", "lock".
const char* CommandName(LinkCommand command);

// Why an exchange or command did not end in an accepted reply, in a few words:
// "no reply within 5000 ms", "board refused (0x4E instead of 0x4F)", ...
std::string DescribeOutcome(const LinkOutcome& outcome);

// "0x00080": a flash address as the tool prints it.
std::string FlashAddress(std::uint32_t address);
