#pragma once

// Connect and identity read, as the window's Connect does them, for the commands
// that talk to a board. The link is the caller's to close with EndBoardSession.

#include <string>

#include "console/console.h"
#include "link/frames.h"
#include "link/link.h"

struct BoardSession {
  LinkHandle link = kNoLink;
  int mode = -1;  // a LinkMode once connected
  bool identityRead = false;
  IdentityBlock block{};
  IdentityTexts texts;
};

// 0 with the link open and the identity read; exit_code::kConnectFailed or
// kIdentityFailed otherwise, with the operator's text in message. After a failed
// identity read the link is open and session.mode set.
int BeginBoardSession(const std::string& address, BoardSession& session, std::string& message);

// Closes the link if open; a close the socket library refuses is reported on
// diag with the window's text, and does not change the command's outcome.
void EndBoardSession(BoardSession& session, std::FILE* diag);
