#include "cli/board_session.h"

#include <cstdio>

#include "cli/exit_codes.h"
#include "cli/text_output.h"

int BeginBoardSession(const std::string& address, BoardSession& session, std::string& message) {
  const int started = StartSockets();
  if (started != 0) {
    message = MessageText(FormatMessage(msg::kConnectFailed, started));
    return exit_code::kConnectFailed;
  }
  const int opened = OpenLink(session.link, address.c_str());
  if (opened != kLinkTcp && opened != kLinkUdp) {
    message = MessageText(FormatMessage(msg::kConnectFailed, opened));
    return exit_code::kConnectFailed;
  }
  session.connected = true;
  session.identityOutcome = ReadIdentity(session.link, session.block);
  if (!session.identityOutcome.Accepted()) {
    message = msg::kIdentityFailed;
    return exit_code::kIdentityFailed;
  }
  session.identityRead = true;
  session.texts = DescribeIdentity(session.block);
  return 0;
}

int StartTrace(const std::string& tracePath, const std::string& pcapPath, BoardSession& session,
               std::string& message) {
  const int opened = session.wire.Open(tracePath, pcapPath, message);
  if (opened == 0) session.link.observer = session.wire.Observer();
  return opened;
}

int CheckHardware(const BoardSession& session, const std::string& expected, std::string& message) {
  if (expected.empty() || session.texts.hardware == expected) return 0;
  message = "Wrong board: hardware code " + Printable(session.texts.hardware) + ", expected " + Printable(expected) +
            ". Nothing was erased.";
  return exit_code::kWrongHardware;
}

void EndBoardSession(BoardSession& session, std::FILE* diag) {
  if (!session.link.IsOpen()) return;
  const int closed = CloseLink(session.link);
  if (closed != 0) std::fprintf(diag, "%s\n", MessageText(FormatMessage(msg::kConnectFailed, closed)).c_str());
}
