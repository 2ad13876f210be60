#pragma once

// What the tool says to people, in one place for every front end: the result
// texts, the messages, the identity record as text, the link's name, the limits
// of the identity fields, and why an exchange failed. Messages that carry a
// number are functions, so their formats are checked when the tool is built.

#include <cstdint>
#include <string>

#include "flash/program_image.h"
#include "link/frames.h"
#include "link/link.h"
#include "link/protocol.h"

namespace msg {
constexpr const char* kIdentityFailed = "Failed to upload current Serial number and Rev.";
constexpr const char* kIdentityRead = "Identity read";
constexpr const char* kNoConnection = "No Connection to the Varnel board.";
constexpr const char* kNoFileName = "No File Name.";
constexpr const char* kSerialTooLong = "The serial number can have at most 15 characters.";
// A run asked to skip a board that already holds its image, which did.
constexpr const char* kAlreadyHeld = "The board already holds this image; nothing was erased or written";
// A production run's identity check before the lock found another board.
constexpr const char* kBoardChanged = "The board changed during the run; it was not locked";
constexpr const char* kBoardChangedCause = "the board changed during the run";
constexpr const char* kOneByteCharacters = "REV and Serial Number take only characters of one byte (Latin-1).";
}  // namespace msg

// Messages are formatted into a text of this many bytes.
constexpr int kMessageCapacity = 100;
// "Failed to connection to the Varnel board. Error = %d.\n"
std::string ConnectFailedMessage(int error);
// "WinSocket not started error = %d.\n"
std::string SocketsNotStartedMessage(int error);
// "Verify failed at 0x%05X"
std::string VerifyFailedMessage(std::uint32_t address);

// The identity fields the operator may edit, in bytes of the record.
constexpr int kSerialNumberMax = identity::kSerialMax;
constexpr int kRevisionMax = 1;

// The operator's text for a ProgramResult.
const char* ProgramResultMessage(int result);
// The same for a run: a failed verify names the first address that differs.
std::string ProgramRunMessage(const ProgramRun& run);

// The identity record's fields as bytes: each up to its first NUL, the serial
// number at most identity::kSerialMax bytes.
struct IdentityTexts {
  std::string revision;
  std::string serialNumber;
  std::string hardware;
};
IdentityTexts DescribeIdentity(const IdentityBlock& block);

// "TCP" or "UDP".
const char* LinkTypeText(LinkMode mode);

// "read", "erase", "program", "lock".
const char* CommandName(LinkCommand command);

// Why an exchange or command did not end in an accepted reply, in a few words:
// "no reply within 5000 ms", "board refused (0x4E instead of 0x4F)", ...
std::string DescribeOutcome(const LinkOutcome& outcome);

// "0x00080": a flash address as the tool prints it.
std::string FlashAddress(std::uint32_t address);
