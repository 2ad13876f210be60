#include "sim/sim_loader.h"

#include <algorithm>
#include <cstring>

#include "sim/sim_flash.h"

namespace sim {

namespace {
constexpr int kUnchangedReadCount = 4;  // the fault's "off" value: the request's count stands
constexpr std::uint32_t kWrongEchoOffset = 4;
constexpr std::uint8_t kCorruptBit = 0x01;  // one bit, so that only a byte-exact comparison sees it
}  // namespace

Loader::Loader(const SimOptions& options)
    : faults_(options.faults),
      revision_(options.revision),
      hardware_(options.hardware),
      flash_(FactoryFlash(options.revision, options.serial, options.hardware)),
      resetsAfterLock_(options.lineBoards > 0),
      silent_(options.faults.silentAfterProgramFrames == 0) {
  if (options.identityRecord.size() == static_cast<std::size_t>(kIdentityLength)) {
    std::copy(options.identityRecord.begin(), options.identityRecord.end(), flash_.begin() + kIdentityAt);
  }
}

Outcome Loader::Handle(const Request& request) {
  const bool repeat = request.udp && haveLastUdp_ && request.sequence == lastUdpSequence_ &&
                      request.length == lastUdpRequest_.size() &&
                      std::equal(lastUdpRequest_.begin(), lastUdpRequest_.end(), request.bytes);
  if (repeat) {
    Outcome again = lastUdpOutcome_;
    again.event.repeat = true;
    again.lockedNow = false;
    if (silent_) {
      again.reply.clear();
      again.event.accepted = false;
      again.event.replied = false;
    }
    return again;
  }

  Outcome out = Carry(request);
  if (request.udp) {
    haveLastUdp_ = true;
    lastUdpSequence_ = request.sequence;
    lastUdpRequest_.assign(request.bytes, request.bytes + request.length);
    lastUdpOutcome_ = out;
  }
  return out;
}

Outcome Loader::Carry(const Request& request) {
  Outcome out;
  out.event.command = '?';
  out.event.udp = request.udp;
  out.event.sequence = request.udp ? request.sequence : 0;
  out.event.address = 0;
  out.event.accepted = false;

  const std::uint8_t* frame = request.bytes;
  const bool known = request.length > kCommandAt && frame[0] == kLead &&
                     RequestLength(frame[kCommandAt]) > 0;
  if (!known) return out;
  out.event.command = static_cast<char>(frame[kCommandAt]);
  if (request.length < static_cast<std::size_t>(RequestLength(frame[kCommandAt]))) {
    return out;  // a truncated datagram: nothing to carry out, nothing to say
  }
  if (frame[kCommandAt] == kRead || frame[kCommandAt] == kProgram) {
    out.event.address = Get32(frame + kAddressAt);
  }
  if (silent_) return out;

  switch (frame[kCommandAt]) {
    case kRead: Read(frame, out); break;
    case kErase: Erase(out); break;
    case kProgram: Program(frame, out); break;
    case kLock: Lock(out); break;
    default: break;
  }
  out.event.replied = !out.reply.empty();
  return out;
}

void Loader::Read(const std::uint8_t* frame, Outcome& out) {
  ReadReplyShape shape;
  const int asked = faults_.readCount == kUnchangedReadCount ? frame[kCountAt] : faults_.readCount;
  shape.words = std::clamp(asked, 0, kMaxReadWords);
  shape.claimOneMore = faults_.readClaimsMoreWords;
  shape.badChecksum = faults_.badReadChecksum;
  out.reply = ReadReply(flash_, out.event.address, shape);
  out.event.accepted = true;
}

void Loader::Erase(Outcome& out) {
  out.event.accepted = !faults_.eraseNak;
  if (out.event.accepted) {
    if (!faults_.eraseIgnored) std::fill(flash_.begin(), flash_.end(), kErased);
    framesSeen_ = 0;
    framesWritten_ = 0;
    locked_ = false;
  }
  out.reply = AckReply(kErase, out.event.accepted);
}

void Loader::Program(const std::uint8_t* frame, Outcome& out) {
  const std::uint32_t address = out.event.address;
  const int frameNumber = ++framesSeen_;
  const std::uint32_t sent = Get32(frame + kDataAt + kProgramBytes);
  const bool intact = frame[kCountAt] == kProgramWords &&
                      WordChecksum(address, frame + kDataAt, kProgramWords) == sent;
  // A frame near the end may reach past the flash; the loader takes it as long
  // as what lies beyond is blank, and writes the part that fits.
  const std::uint32_t inside = address < kFlashSize ? std::min<std::uint32_t>(kProgramBytes, kFlashSize - address) : 0;
  const bool blankBeyond = std::all_of(frame + kDataAt + inside, frame + kDataAt + kProgramBytes,
                                       [](std::uint8_t b) { return b == kErased; });
  const bool fits = address % 4 == 0 && inside > 0 && blankBeyond;
  const bool accepted = intact && fits && frameNumber != faults_.nakAtProgramFrame;
  if (accepted) {
    std::memcpy(flash_.data() + address, frame + kDataAt, inside);
    if (frameNumber == faults_.corruptProgramFrame) flash_[address] ^= kCorruptBit;
    ++framesWritten_;
  }
  const bool wrongEcho = accepted && frameNumber == faults_.wrongEchoAtProgramFrame;
  out.reply = ProgramReply(accepted, wrongEcho ? address + kWrongEchoOffset : address);
  out.event.accepted = accepted;
  if (frameNumber == faults_.swappedAfterProgramFrame) flash_ = FactoryFlash(revision_, faults_.swapSerial, hardware_);
  if (faults_.silentAfterProgramFrames >= 0 && framesSeen_ >= faults_.silentAfterProgramFrames) {
    silent_ = true;  // this frame is still answered; nothing after it is
  }
}

void Loader::Lock(Outcome& out) {
  out.event.accepted = !faults_.lockNak;
  if (out.event.accepted) {
    locked_ = true;
    out.lockedNow = true;
    // A board on the line resets into its application: its loader is gone, and
    // a resent lock goes unanswered like anything else.
    if (resetsAfterLock_) silent_ = true;
  }
  out.reply = AckReply(kLock, out.event.accepted);
}

}  // namespace sim
