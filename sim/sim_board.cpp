// The board's thread: one wait over its sockets and a queue of replies that
// are due later, so a delayed reply never stops the board from taking further
// requests (the tool keeps resending over UDP while it waits). The faults that
// change how and when a reply travels live here; those that change what a
// reply says live in the loader.

#include "sim/sim_board.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

#include "sim/loader_wire.h"
#include "sim/sim_flash.h"
#include "sim/sim_loader.h"
#include "sim/sim_sockets.h"

namespace {

using Clock = std::chrono::steady_clock;
using sim::Bytes;

// Long enough that the tool's single receive returns with the first part only.
constexpr std::chrono::milliseconds kSplitPause{30};
// Bigger than any request; a longer datagram is cut and then fails as a frame.
constexpr std::size_t kDatagramCapacity = 1024;
constexpr std::size_t kStreamChunk = 512;
// Datagrams taken per wake-up, so that a flood cannot hold back due replies.
constexpr int kDatagramsPerWake = 64;
// Replies waiting for their time. A flood of requests under a long reply delay
// would otherwise queue without end; beyond this a reply is lost, as a busy
// board's would be.
constexpr std::size_t kMaxQueuedReplies = 4096;
constexpr long long kLongestPollMs = 60 * 1000;

enum class Via { kUdp, kForeign, kTcp };

struct Outgoing {
  Via via;
  Bytes bytes;
  sim::Peer to;                  // UDP
  std::uint64_t connection = 0;  // TCP: dropped if that connection has gone
};

}  // namespace

struct SimBoard::Impl {
  // Written by Start before the thread runs; then the thread's alone.
  SimOptions options;
  SocketWaiter waiter;  // Stop's nudge; opened by Start, closed by Stop, never by the thread
  int udp = -1;
  int foreign = -1;
  int listener = -1;
  int connection = -1;
  std::uint64_t connectionId = 0;
  Bytes stream;                 // TCP bytes not yet making a whole frame
  std::multimap<Clock::time_point, Outgoing> due;  // equal times keep their order
  Clock::time_point tcpFreeAt;  // TCP replies leave in request order, never interleaved
  long udpReplies = 0;
  std::thread thread;
  std::atomic<bool> stopping{false};
  std::atomic<bool> running{false};

  // A line of boards: the board in its reset silence moves on at nextBoardAt.
  bool resetting = false;
  Clock::time_point nextBoardAt;

  mutable std::mutex mutex;  // guards what follows
  sim::Loader loader{SimOptions{}};
  std::vector<SimEvent> events;  // a ring once it holds eventsKept
  std::size_t oldestEvent = 0;   // where the ring starts once it is full
  std::uint64_t eventCount = 0;
  int currentBoard = 1;
  std::vector<std::vector<std::uint8_t>> finishedFlash;  // the line's boards before currentBoard
  std::string error;

  void Run(Clock::time_point deadline);
  void ReceiveDatagrams();
  void ReceiveStream();
  void Accept();
  void Carry(const sim::Request& request, const sim::Peer* from);
  void Record(const SimEvent& event);
  void StartReset();
  void NextBoard();
  SimOptions BoardOptions(int board) const;
  std::string FlashPath(int board) const;
  void Schedule(const sim::Outcome& outcome, std::uint8_t sequence, const sim::Peer* from);
  void Queue(Clock::time_point at, Via via, Bytes bytes, const sim::Peer* to);
  void SendDue(Clock::time_point now);
  void CloseConnection();
  void CloseSockets();
  void SaveFlash();
};

SimBoard::SimBoard() : impl_(std::make_unique<Impl>()) {}

SimBoard::~SimBoard() { Stop(); }

bool SimBoard::Start(const SimOptions& options) {
  Impl& b = *impl_;
  if (b.running) {
    std::lock_guard lock(b.mutex);
    b.error = "the board is already running";
    return false;
  }
  if (b.thread.joinable()) b.thread.join();  // stopped by its time limit
  b.waiter.Close();

  std::string why;
  if (options.serial.size() > static_cast<std::size_t>(sim::kSerialMax)) {
    why = "a serial number holds at most " + std::to_string(sim::kSerialMax) + " characters";
  } else if (options.hardware.size() > static_cast<std::size_t>(sim::kHardwareLength)) {
    why = "a hardware code holds at most " + std::to_string(sim::kHardwareLength) + " characters";
  } else if (!options.identityRecord.empty() &&
             options.identityRecord.size() != static_cast<std::size_t>(sim::kIdentityLength)) {
    why = "an identity record holds " + std::to_string(sim::kIdentityLength) + " bytes";
  } else if (!options.udp && !options.tcp) {
    why = "neither UDP nor TCP is enabled";
  } else if (options.lineBoards < 0 || options.lineBoards > kMaxLineBoards) {
    why = "a line holds 1 to " + std::to_string(kMaxLineBoards) + " boards";
  } else if (options.resetSilenceMs < 0) {
    why = "a negative reset silence";
  } else if (options.lineBoards > 0 &&
             sim::BoardSerial(options.serial, options.lineBoards).size() >
                 static_cast<std::size_t>(sim::kSerialMax)) {
    // Numbers only grow along the line, so the last board's is the longest.
    why = "the line's serial numbers outgrow " + std::to_string(sim::kSerialMax) + " characters";
  }
  b.options = options;
  if (why.empty()) {
    if (const int error = b.waiter.Open(); error != 0) why = "no wake-up for the board's wait: " + SockErrorText(error);
  }
  if (why.empty() && options.udp) b.udp = sim::OpenUdp(options.bindAddress, options.udpPort, why);
  if (why.empty() && options.tcp) {
    b.listener = sim::OpenTcpListener(options.bindAddress, options.tcpPort, why);
  }
  if (why.empty() && options.udp && options.faults.foreignBeforeReply) {
    b.foreign = sim::OpenUdp(options.faults.foreignAddress, 0, why);
  }
  {
    std::lock_guard lock(b.mutex);
    b.error = why;
    if (!why.empty()) {
      b.CloseSockets();
      b.waiter.Close();
      return false;
    }
    b.loader = sim::Loader(b.BoardOptions(1));
    b.events = {};
    b.oldestEvent = 0;
    b.eventCount = 0;
    b.currentBoard = 1;
    b.finishedFlash.clear();
  }
  b.resetting = false;
  b.connectionId = 0;
  b.stream.clear();
  b.due.clear();
  b.tcpFreeAt = Clock::time_point{};
  b.udpReplies = 0;
  b.stopping = false;
  b.running = true;
  const auto deadline = Clock::now() + std::chrono::seconds(std::max(options.timeLimitSeconds, 0));
  b.thread = std::thread([&b, deadline] { b.Run(deadline); });
  return true;
}

void SimBoard::Stop() {
  Impl& b = *impl_;
  if (!b.thread.joinable()) return;
  b.stopping = true;
  b.waiter.Wake();
  b.thread.join();
  b.waiter.Close();
}

std::string SimBoard::Error() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->error;
}

std::vector<std::uint8_t> SimBoard::Flash() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->loader.Flash();
}

std::vector<SimEvent> SimBoard::Events() const {
  std::lock_guard lock(impl_->mutex);
  const auto& ring = impl_->events;
  const auto oldest = ring.begin() + static_cast<std::ptrdiff_t>(impl_->oldestEvent);
  std::vector<SimEvent> inOrder(oldest, ring.end());
  inOrder.insert(inOrder.end(), ring.begin(), oldest);
  return inOrder;
}

std::uint64_t SimBoard::EventCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->eventCount;
}

int SimBoard::CurrentBoard() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->currentBoard;
}

std::vector<std::uint8_t> SimBoard::BoardFlash(int board) const {
  std::lock_guard lock(impl_->mutex);
  const Impl& b = *impl_;
  if (board < 1) return {};
  if (static_cast<std::size_t>(board) <= b.finishedFlash.size()) return b.finishedFlash[static_cast<std::size_t>(board - 1)];
  const bool lineOver = b.options.lineBoards > 0 && b.currentBoard > b.options.lineBoards;
  if (board == b.currentBoard && !lineOver) return b.loader.Flash();
  return {};
}

int SimBoard::ProgramFramesWritten() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->loader.ProgramFramesWritten();
}

bool SimBoard::Locked() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->loader.Locked();
}

void SimBoard::Impl::Run(Clock::time_point deadline) {
  while (!stopping) {
    auto now = Clock::now();
    SendDue(now);
    if (resetting && now >= nextBoardAt) NextBoard();
    if (now >= deadline) break;
    Clock::time_point until = due.empty() ? deadline : std::min(deadline, due.begin()->first);
    if (resetting) until = std::min(until, nextBoardAt);
    // Capped so that a time limit of years does not overflow the wait's int.
    const auto wait = std::min<long long>(
        std::chrono::ceil<std::chrono::milliseconds>(until - now).count(), kLongestPollMs);

    const SocketHandle sockets[] = {udp, connection, listener};
    bool ready[3] = {};
    if (const int failed = waiter.Wait(sockets, 3, static_cast<int>(wait), ready); failed != 0) {
      std::lock_guard lock(mutex);
      error = "the board's wait failed: " + SockErrorText(failed);
      break;
    }
    if (ready[0]) ReceiveDatagrams();
    if (ready[1]) ReceiveStream();
    if (ready[2]) Accept();  // after the old connection's last bytes were read
  }
  CloseSockets();
  SaveFlash();
  running = false;
}

void SimBoard::Impl::ReceiveDatagrams() {
  for (int i = 0; i < kDatagramsPerWake; ++i) {
    std::uint8_t buffer[kDatagramCapacity];
    sim::Peer from;
    const long n = sim::ReceiveDatagram(udp, buffer, sizeof buffer, from);
    if (n < 0) return;  // drained
    sim::Request request;
    request.udp = true;
    if (n > 0) {
      request.sequence = buffer[0];
      request.bytes = buffer + 1;
      request.length = static_cast<std::size_t>(n - 1);
    }
    Carry(request, &from);
  }
}

void SimBoard::Impl::ReceiveStream() {
  std::uint8_t chunk[kStreamChunk];
  const long n = sim::ReceiveStream(connection, chunk, sizeof chunk);
  if (n < 0 && sim::WouldBlock()) return;
  if (n <= 0) {  // the tool closed the link, or it broke: wait for the next one
    CloseConnection();
    return;
  }
  stream.insert(stream.end(), chunk, chunk + n);
  // A frame's length follows from its command letter; bytes that start no known
  // frame cannot be resynchronised, so they are dropped whole.
  while (!stream.empty()) {
    const bool lost = stream[0] != sim::kLead ||
                      (stream.size() > 1 && sim::RequestLength(stream[1]) == 0);
    if (lost) {
      Carry(sim::Request{false, 0, stream.data(), stream.size()}, nullptr);
      stream.clear();
      return;
    }
    if (stream.size() < 2) return;
    const auto length = static_cast<std::size_t>(sim::RequestLength(stream[1]));
    if (stream.size() < length) return;
    Carry(sim::Request{false, 0, stream.data(), length}, nullptr);
    stream.erase(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(length));
  }
}

void SimBoard::Impl::Accept() {
  if (listener < 0) return;  // closed by a lock in this same wake-up
  const int fd = sim::AcceptConnection(listener);
  if (fd < 0) return;
  CloseConnection();  // the newest connection wins, as with a tool that reconnects
  connection = fd;
}

void SimBoard::Impl::Carry(const sim::Request& request, const sim::Peer* from) {
  sim::Outcome outcome;
  {
    std::lock_guard lock(mutex);
    outcome = loader.Handle(request);
    outcome.event.board = currentBoard;
    Record(outcome.event);
    std::string why;
    if (outcome.lockedNow && !options.flashFile.empty() &&
        !sim::WriteFlashFile(FlashPath(currentBoard), loader.Flash(), why)) {
      error = why;
    }
  }
  if (options.onEvent) options.onEvent(outcome.event);
  Schedule(outcome, request.sequence, from);
  if (outcome.lockedNow && options.lineBoards > 0) StartReset();
}

// Called with the mutex held.
void SimBoard::Impl::Record(const SimEvent& event) {
  ++eventCount;
  const std::size_t kept = options.eventsKept;
  if (kept == 0) return;
  if (events.size() < kept) {
    // Grown in steps, but never past the ring's size.
    if (events.size() == events.capacity()) {
      events.reserve(std::min(kept, std::max<std::size_t>(64, 2 * events.size())));
    }
    events.push_back(event);
    return;
  }
  events[oldestEvent] = event;
  oldestEvent = (oldestEvent + 1) % kept;
}

// The lock's reply is already queued and goes out; from now on the loader
// answers nothing, and a connect is refused as by a board that is rebooting.
void SimBoard::Impl::StartReset() {
  sim::CloseSocket(listener);
  const SimFaults& f = options.faults;
  resetting = true;
  nextBoardAt = Clock::now() + std::chrono::milliseconds(std::max(f.replyDelayMs, 0)) +
                std::chrono::milliseconds(options.resetSilenceMs);
}

void SimBoard::Impl::NextBoard() {
  resetting = false;
  bool another = false;
  {
    std::lock_guard lock(mutex);
    finishedFlash.push_back(loader.Flash());
    ++currentBoard;
    another = currentBoard <= options.lineBoards;
    // After the last board the loader stays as it was: silent since its lock.
    if (another) loader = sim::Loader(BoardOptions(currentBoard));
  }
  // The board that reset has forgotten the tool's connection.
  CloseConnection();
  if (another && options.tcp) {
    std::string why;
    listener = sim::OpenTcpListener(options.bindAddress, options.tcpPort, why);
    if (listener < 0) {
      std::lock_guard lock(mutex);
      error = why;
    }
  }
}

SimOptions SimBoard::Impl::BoardOptions(int board) const {
  SimOptions o = options;
  if (options.lineBoards > 0) o.serial = sim::BoardSerial(options.serial, board);
  return o;
}

std::string SimBoard::Impl::FlashPath(int board) const {
  if (options.lineBoards == 0) return options.flashFile;
  return options.flashFile + "." + std::to_string(board);
}

void SimBoard::Impl::Schedule(const sim::Outcome& outcome, std::uint8_t sequence,
                              const sim::Peer* from) {
  if (outcome.reply.empty()) return;
  const SimFaults& f = options.faults;
  const int delayMs = f.replyDelayMs + (outcome.event.command == 'e' ? f.eraseDelayMs : 0);
  Clock::time_point at = Clock::now() + std::chrono::milliseconds(std::max(delayMs, 0));
  const int copies = f.duplicateReplies ? 2 : 1;

  if (from) {
    ++udpReplies;
    if (f.dropEveryNthUdpReply > 0 && udpReplies % f.dropEveryNthUdpReply == 0) return;
    Bytes datagram(1 + outcome.reply.size());
    datagram[0] = sequence;
    std::copy(outcome.reply.begin(), outcome.reply.end(), datagram.begin() + 1);
    if (f.staleBeforeReply) Queue(at, Via::kUdp, sim::StaleCopy(datagram), from);
    if (f.foreignBeforeReply) Queue(at, Via::kForeign, datagram, from);
    for (int i = 0; i < copies; ++i) Queue(at, Via::kUdp, datagram, from);
    return;
  }

  const Bytes& reply = outcome.reply;
  at = std::max(at, tcpFreeAt);
  for (int i = 0; i < copies; ++i) {
    if (f.splitTcpReplies && reply.size() > 1) {
      const auto half = static_cast<std::ptrdiff_t>(reply.size() / 2);
      Queue(at, Via::kTcp, Bytes(reply.begin(), reply.begin() + half), nullptr);
      at += kSplitPause;
      Queue(at, Via::kTcp, Bytes(reply.begin() + half, reply.end()), nullptr);
    } else {
      Queue(at, Via::kTcp, reply, nullptr);
    }
  }
  tcpFreeAt = at;
}

void SimBoard::Impl::Queue(Clock::time_point at, Via via, Bytes bytes, const sim::Peer* to) {
  if (due.size() >= kMaxQueuedReplies) return;
  Outgoing out{via, std::move(bytes), to ? *to : sim::Peer{}, connectionId};
  due.emplace(at, std::move(out));
}

void SimBoard::Impl::SendDue(Clock::time_point now) {
  while (!due.empty() && due.begin()->first <= now) {
    const Outgoing& out = due.begin()->second;
    switch (out.via) {
      case Via::kUdp:
        sim::SendDatagram(udp, out.bytes.data(), out.bytes.size(), out.to);
        break;
      case Via::kForeign:
        sim::SendDatagram(foreign, out.bytes.data(), out.bytes.size(), out.to);
        break;
      case Via::kTcp:
        // A reply to a connection that has since gone is lost with it.
        if (connection >= 0 && out.connection == connectionId) {
          sim::SendStream(connection, out.bytes.data(), out.bytes.size());
        }
        break;
    }
    due.erase(due.begin());
  }
}

void SimBoard::Impl::CloseConnection() {
  sim::CloseSocket(connection);
  ++connectionId;
  stream.clear();
  tcpFreeAt = Clock::time_point{};
}

void SimBoard::Impl::CloseSockets() {
  CloseConnection();
  sim::CloseSocket(listener);
  sim::CloseSocket(foreign);
  sim::CloseSocket(udp);
}

void SimBoard::Impl::SaveFlash() {
  std::lock_guard lock(mutex);
  // Each board of the line was written at its lock; after the last one there is
  // no current board to write.
  if (options.flashFile.empty() || (options.lineBoards > 0 && currentBoard > options.lineBoards)) return;
  std::string why;
  if (!sim::WriteFlashFile(FlashPath(currentBoard), loader.Flash(), why)) error = why;
}
