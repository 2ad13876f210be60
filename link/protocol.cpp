#include "link/protocol.h"

#include <algorithm>

namespace {

// Sends the request in buffer over the link's transport and checks the reply
// with `check`. Over UDP a request is repeated every few milliseconds while the
// board works, and given up when the board has not answered in the command's
// TCP wait (capped). No wait exceeds kLongestReplyWaitMs, whatever the table says.
template <typename Check>
LinkOutcome Exchange(BoardLink& link, std::uint8_t* buffer, int length, int commandWaitMs, Check check) {
  const LinkWaits& waits = link.waits;
  const int tcpWaitMs = std::min(commandWaitMs, link_const::kLongestReplyWaitMs);
  const LinkOutcome exchanged =
      link.mode == LinkMode::kTcp
          ? TcpExchange(link, buffer, length, tcpWaitMs)
          : UdpExchange(link, buffer, length, waits.udpPerSendMs, std::min(tcpWaitMs, waits.udpGiveUpCapMs));
  if (!exchanged.Accepted()) return exchanged;
  return check(buffer, exchanged.length);
}

}  // namespace

LinkOutcome ReadIdentity(BoardLink& link, IdentityBlock& identity) {
  LinkRequest buffer;
  const int length = BuildReadRequest(buffer, link.mode, CurrentSequence(link));
  return Exchange(link, buffer, length, link.waits.readTcpMs, [&](const std::uint8_t* reply, int received) {
    return CheckReadReply(reply, received, link.mode, identity);
  });
}

LinkOutcome ReadFlashWords(BoardLink& link, std::uint32_t address, std::uint8_t (&data)[frame::kReadBytes]) {
  LinkRequest buffer;
  const int length = BuildReadRequest(buffer, link.mode, CurrentSequence(link), address);
  return Exchange(link, buffer, length, link.waits.readTcpMs, [&](const std::uint8_t* reply, int received) {
    return CheckReadReply(reply, received, link.mode, address, data);
  });
}

LinkOutcome EraseFlash(BoardLink& link) {
  LinkRequest buffer;
  const int length = BuildEraseRequest(buffer, link.mode, CurrentSequence(link));
  return Exchange(link, buffer, length, link.waits.eraseTcpMs, [&](const std::uint8_t* reply, int received) {
    return CheckAckReply(reply, received, link.mode);
  });
}

LinkOutcome ProgramFlashBlock(BoardLink& link, std::uint32_t address, const std::uint8_t* data) {
  LinkRequest buffer;
  const int length = BuildProgramRequest(buffer, link.mode, CurrentSequence(link), address, data);
  return Exchange(link, buffer, length, link.waits.programTcpMs, [&](const std::uint8_t* reply, int received) {
    return CheckProgramReply(reply, received, link.mode, address);
  });
}

LinkOutcome LockAndReset(BoardLink& link) {
  LinkRequest buffer;
  const int length = BuildLockRequest(buffer, link.mode, CurrentSequence(link));
  return Exchange(link, buffer, length, link.waits.lockTcpMs, [&](const std::uint8_t* reply, int received) {
    return CheckAckReply(reply, received, link.mode);
  });
}
