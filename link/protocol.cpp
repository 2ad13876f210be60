#include "link/protocol.h"

#include <algorithm>

namespace {

// Sends the request in buffer over the link's transport. Over UDP a request is
// repeated every few milliseconds while the board works, and given up when the
// board has not answered in the command's TCP wait (capped).
int Exchange(LinkHandle link, int mode, std::uint8_t* buffer, int length, int tcpWaitMs) {
  const LinkWaits& waits = Waits();
  if (mode == kLinkTcp) return TcpExchange(link, buffer, length, tcpWaitMs);
  return UdpExchange(link, buffer, length, waits.udpPerSendMs,
                     std::min(tcpWaitMs, waits.udpGiveUpCapMs));
}

}  // namespace

int ReadIdentity(LinkHandle link, IdentityBlock& identity, int mode) {
  LinkRequest buffer;
  const int length = BuildReadRequest(buffer, mode, CurrentSequence());
  const int received = Exchange(link, mode, buffer, length, Waits().readTcpMs);
  return CheckReadReply(buffer, received, mode, identity) ? 0 : 1;
}

int EraseFlash(LinkHandle link, int mode) {
  LinkRequest buffer;
  const int length = BuildEraseRequest(buffer, mode, CurrentSequence());
  const int received = Exchange(link, mode, buffer, length, Waits().eraseTcpMs);
  return CheckAckReply(buffer, received, mode) ? 0 : 1;
}

int ProgramFlashBlock(LinkHandle link, int mode, std::uint32_t address, const std::uint8_t* data) {
  LinkRequest buffer;
  const int length = BuildProgramRequest(buffer, mode, CurrentSequence(), address, data);
  const int received = Exchange(link, mode, buffer, length, Waits().programTcpMs);
  return CheckProgramReply(buffer, received, mode, address) ? 0 : 1;
}

int LockAndReset(LinkHandle link, int mode) {
  LinkRequest buffer;
  const int length = BuildLockRequest(buffer, mode, CurrentSequence());
  const int received = Exchange(link, mode, buffer, length, Waits().lockTcpMs);
  return CheckAckReply(buffer, received, mode) ? 0 : 1;
}
