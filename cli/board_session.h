#pragma once

// Connect and identity read, as the window's Connect does them, for the commands
// that talk to a board. The link is the caller's to close with EndBoardSession.

#include <memory>
#include <string>

#include "cli/wire_record.h"

#include "flash/vocabulary.h"
#include "link/frames.h"
#include "link/link.h"
#include "link/protocol.h"

struct BoardSession {
  explicit BoardSession(const LinkWaits& waits = kBoardWaits) : link(waits) {}

  BoardLink link;
  bool connected = false;  // OpenLink succeeded; link.mode holds the transport
  bool identityRead = false;
  LinkOutcome identityOutcome;  // why the read failed, when it did
  IdentityBlock block{};
  IdentityTexts texts;
  WireRecord wire;  // --trace and --pcap: watch the link
};

// Opens the trace and the capture that have a path and sets them to watch the
// session's link: 0, or exit_code::kLogUnwritable with the reason in message.
// Without either, 0.
int StartTrace(const std::string& tracePath, const std::string& pcapPath, BoardSession& session,
               std::string& message);

// 0 with the link open and the identity read; exit_code::kConnectFailed or
// kIdentityFailed otherwise, with the operator's text in message. After a failed
// identity read the link is open.
int BeginBoardSession(const std::string& address, BoardSession& session, std::string& message);

// 0 when the board read is of the model `expected` names (empty: any model);
// otherwise exit_code::kWrongHardware with the operator's text in message.
int CheckHardware(const BoardSession& session, const std::string& expected, std::string& message);

// Closes the link if open; a close the socket library refuses is reported on
// diag with the window's text, and does not change the command's outcome.
void EndBoardSession(BoardSession& session, std::FILE* diag);
