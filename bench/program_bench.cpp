// A full programming run (erase, 2047 program frames, lock) against the simulated
// board on loopback, beside the least that the same 2047 round trips can take: a
// bare socket loop that sends ready-made program requests and waits for each
// reply. What the run costs above that floor is the tool's own work per frame;
// the aim is a run within 1.15 times its floor (x_floor <= 1.15).
//
// Counters: floor_ms is the floor's round of 2047 frames (the time column is the
// run's); run_us_per_frame and floor_us_per_frame divide each by 2047, the run's
// share of loading the file, erase and lock included.
//
// A full dump beside its floor: the whole flash read back (tovrin-cli read), 8192
// reads of 16 bytes, against the same 8192 read round trips made with bare
// sockets. x_floor is the dump's ratio to that floor; the aim is that a dump
// costs its round trips and no more.
//
// Verification beside programming: the same full image programmed with and
// without the read-back (--verify), over a link each. The read-back takes four
// round trips of 16 bytes per 64-byte frame; verify_ms is its cost (the run with
// it less the run without) and x_program its ratio to the programming run.
//
// It binds the board's ports, so it runs inside a private network namespace:
//   scripts/private-net build-rel/bench/program_bench

#include <benchmark/benchmark.h>

#include <sched.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "flash/identity_stamp.h"
#include "flash/program_image.h"
#include "os/files.h"
#include "os/socket.h"
#include "run/program_run.h"
#include "run/read_back.h"
#include "link/link.h"
#include "sim/sim_board.h"
#include "bench/full_image.h"

namespace {

constexpr char kBoardAddress[] = "127.0.0.1";
using bench::FullImage;
using bench::ImageFile;
using bench::kFullImageFrames;
constexpr std::uint32_t kFrameBytes = 64;
constexpr int kFloorReplyWaitMs = 1000;    // a loopback reply takes microseconds; this only bounds a lost one

// The board's own waits, less the fixed pauses that a real board needs and that
// would only measure sleeping: the probe is answered within microseconds on
// loopback (a board without UDP leaves it unanswered, and every TCP link then
// costs three of these before it opens, outside the clock), and there is no
// loader to settle after connect or lock.
LinkWaits BenchWaits() {
  LinkWaits w = kBoardWaits;
  w.probeMs = 20;
  w.pauseAfterConnectMs = 0;
  w.pauseAfterLockMs = 0;
  return w;
}

SimOptions BoardFor(LinkMode mode) {
  SimOptions o;
  o.udp = mode == LinkMode::kUdp;
  o.tcp = mode == LinkMode::kTcp;
  return o;
}

// Where the board's thread and the client run. Left to the scheduler, the two
// threads that wake each other 2047 times a run now share a core and now do not,
// and a round trip costs a few times more when the other side sleeps on another
// core (waking it is an interrupt to that core, dear on a virtual machine), so
// both are pinned, in one of two ways, for floor and run alike:
//   kOwnCores    each on a core of its own: neither can hold up the other, but
//                every reply pays the cross-core wake-up, which swamps the
//                client's own work in the figures;
//   kSharedCore  both on one core: they take turns (each sleeps while the other
//                works), the round trip is at its cheapest, and what the client
//                does per frame shows at its largest.
enum class Placement { kOwnCores, kSharedCore };

// A thread inherits its creator's affinity, hence the switch around Start.
class PinnedBoard {
 public:
  PinnedBoard(const SimOptions& options, Placement placement) {
    const bool known = ::sched_getaffinity(0, sizeof original_, &original_) == 0;
    int cpus[2] = {-1, -1};
    for (int c = 0, found = 0; known && c < CPU_SETSIZE && found < 2; ++c) {
      if (CPU_ISSET(c, &original_)) cpus[found++] = c;
    }
    // With a single core allowed there is nothing to choose.
    pinned_ = cpus[1] >= 0;
    const int boardCpu = placement == Placement::kOwnCores ? cpus[1] : cpus[0];
    if (pinned_) PinTo(boardCpu);
    started_ = board_.Start(options);
    if (pinned_) PinTo(cpus[0]);
  }
  ~PinnedBoard() {
    board_.Stop();
    if (pinned_) ::sched_setaffinity(0, sizeof original_, &original_);
  }
  PinnedBoard(const PinnedBoard&) = delete;
  PinnedBoard& operator=(const PinnedBoard&) = delete;

  bool Started() const { return started_; }
  const SimBoard& Board() const { return board_; }

 private:
  static void PinTo(int cpu) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    ::sched_setaffinity(0, sizeof one, &one);
  }

  cpu_set_t original_{};
  bool pinned_ = false;
  bool started_ = false;
  SimBoard board_;
};

// --- The floor: bare socket calls, nothing of the tool's link code -----------

// The program command as the loader reads it, written out here again so that
// the floor shares no code with what it is compared to.
namespace wire {
constexpr std::uint8_t kLead = 0x66;     // 'f'
constexpr std::uint8_t kProgram = 0x70;  // 'p'
constexpr std::uint8_t kRead = 0x75;     // 'u'
constexpr std::uint8_t kReadWords = 4;
constexpr std::uint32_t kReadBytes = 4 * kReadWords;
constexpr std::size_t kTcpReadRequest = 7;                       // lead, letter, count, address
constexpr std::size_t kTcpReadReply = 4 * kReadWords + 11;       // 27: and the words and their sum
constexpr std::uint8_t kAck = 0x4F;      // 'O'
constexpr std::uint8_t kWords = 16;
// Offsets and lengths without the UDP sequence byte.
constexpr std::size_t kAddressAt = 3;
constexpr std::size_t kDataAt = 7;
constexpr std::size_t kSumAt = kDataAt + 4 * kWords;
constexpr std::size_t kTcpRequest = kSumAt + 4;
constexpr std::size_t kUdpRequest = 1 + kTcpRequest;
constexpr std::size_t kAckAt = 2;
constexpr std::size_t kTcpReply = 7;  // lead, letter, ack, echoed address
constexpr std::size_t kReplyCapacity = 128;
static_assert(kTcpRequest == 75 && kUdpRequest == 76);
}  // namespace wire

// A floor's round: each request as it travels over TCP (UDP puts the sequence
// byte in front), and the reply each must get: its length over TCP and, for a
// program frame, the acknowledgement.
struct FloorRequests {
  std::vector<std::vector<std::uint8_t>> requests;
  std::size_t tcpReply = 0;
  bool acknowledged = false;
};

void PutWord(std::uint8_t* at, std::uint32_t word) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(word >> (24 - 8 * i));
}

// Program requests for the whole image as they travel over TCP: 'f' 'p', the
// word count, the address, 64 data bytes and the sum of address and words. Made
// before the clock starts; the floor is the wire and the board, not the framing.
FloorRequests ProgramRequests() {
  const std::vector<std::uint8_t> image = FullImage();
  FloorRequests round{std::vector<std::vector<std::uint8_t>>(kFullImageFrames), wire::kTcpReply, true};
  for (int i = 0; i < kFullImageFrames; ++i) {
    const std::uint32_t address = static_cast<std::uint32_t>(i) * kFrameBytes;
    std::vector<std::uint8_t>& r = round.requests[i];
    r.resize(wire::kTcpRequest);
    r[0] = wire::kLead;
    r[1] = wire::kProgram;
    r[2] = wire::kWords;
    PutWord(&r[wire::kAddressAt], address);
    std::uint32_t sum = address;
    for (std::uint32_t w = 0; w < wire::kWords; ++w) {
      const std::uint8_t* word = &image[address + 4 * w];
      std::copy(word, word + 4, &r[wire::kDataAt + 4 * w]);
      sum += static_cast<std::uint32_t>(word[0]) << 24 | static_cast<std::uint32_t>(word[1]) << 16 |
             static_cast<std::uint32_t>(word[2]) << 8 | word[3];
    }
    PutWord(&r[wire::kSumAt], sum);
  }
  return round;
}

// The read requests of a full dump: 'f' 'u', four words, each 16-byte block.
FloorRequests ReadRequests() {
  FloorRequests round{{}, wire::kTcpReadReply, false};
  for (std::uint32_t address = 0; address < kFlashSize; address += wire::kReadBytes) {
    std::vector<std::uint8_t> r(wire::kTcpReadRequest);
    r[0] = wire::kLead;
    r[1] = wire::kRead;
    r[2] = wire::kReadWords;
    PutWord(&r[wire::kAddressAt], address);
    round.requests.push_back(std::move(r));
  }
  return round;
}

// The board's endpoint on the loopback.
Endpoint BoardEndpoint(std::uint16_t port) {
  Endpoint e{0, port};
  SockParseAddress(kBoardAddress, &e.address);
  return e;
}

// Bytes of the next reply within the floor's wait: their count, or -1 when none
// came. The floor waits as the link does (a readiness wait, then a receive),
// so the two pay the same system calls per reply.
int ReceiveReply(SocketHandle s, std::uint8_t* into, int capacity) {
  if (SockWaitReadable(s, kFloorReplyWaitMs) != 1) return -1;
  return SockRecv(s, into, capacity);
}

// One round of UDP requests, each behind its sequence byte. False when a reply
// is missing or is not the one that request asks for.
bool UdpFloorRound(SocketHandle s, const Endpoint& board, const FloorRequests& round, std::uint8_t& sequence) {
  std::uint8_t datagram[wire::kUdpRequest];
  std::uint8_t reply[wire::kReplyCapacity];
  for (const auto& request : round.requests) {
    datagram[0] = sequence;
    std::copy(request.begin(), request.end(), datagram + 1);
    const int length = static_cast<int>(1 + request.size());
    if (SockSendTo(s, datagram, length, board) != length) return false;
    if (ReceiveReply(s, reply, sizeof reply) != static_cast<int>(1 + round.tcpReply) || reply[0] != sequence ||
        (round.acknowledged && reply[1 + wire::kAckAt] != wire::kAck)) {
      return false;
    }
    sequence = sequence == 255 ? 1 : static_cast<std::uint8_t>(sequence + 1);
  }
  return true;
}

// The same over TCP, where a reply may arrive in pieces.
bool TcpFloorRound(SocketHandle s, const FloorRequests& round) {
  std::uint8_t reply[wire::kReplyCapacity];
  for (const auto& request : round.requests) {
    if (SockSend(s, request.data(), static_cast<int>(request.size())) != static_cast<int>(request.size())) {
      return false;
    }
    std::size_t got = 0;
    while (got < round.tcpReply) {
      const int n = ReceiveReply(s, reply + got, static_cast<int>(sizeof reply - got));
      if (n <= 0) return false;
      got += static_cast<std::size_t>(n);
    }
    if (got != round.tcpReply || (round.acknowledged && reply[wire::kAckAt] != wire::kAck)) return false;
  }
  return true;
}

// A TCP connection to the board within the floor's wait.
bool Connect(SocketHandle s, const Endpoint& to) {
  int state = SockConnectStart(s, to);
  if (state == 1) state = SockConnectWait(s, kFloorReplyWaitMs);
  return state == 0;
}

// The floor's own connection, opened and closed around each round: the board
// serves one TCP connection at a time, the newest, so the floor and the tool
// take turns. Seconds for the round, or a negative value when it failed.
double TimedFloorRound(LinkMode mode, const SimOptions& options, const FloorRequests& requests,
                       std::uint8_t& sequence) {
  const SocketHandle s = mode == LinkMode::kUdp ? SockOpenUdp() : SockOpenTcp();
  const Endpoint to = BoardEndpoint(mode == LinkMode::kUdp ? options.udpPort : options.tcpPort);
  double seconds = -1;
  if (s != kNoSocket && (mode == LinkMode::kUdp || Connect(s, to))) {
    const auto start = std::chrono::steady_clock::now();
    const bool ok = mode == LinkMode::kUdp ? UdpFloorRound(s, to, requests, sequence) : TcpFloorRound(s, requests);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (ok) seconds = elapsed.count();
  }
  if (s != kNoSocket) SockClose(s);
  return seconds;
}

// One floor round, then `session` opened over the transport under test for the
// measured work, so both take their connection before any clock starts. The
// floor's seconds, or a negative value once the benchmark is skipped with why.
double FloorThenOpen(benchmark::State& state, Session& session, LinkMode mode, const SimOptions& options,
                     const FloorRequests& requests, std::uint8_t& sequence) {
  const double floor = TimedFloorRound(mode, options, requests, sequence);
  if (floor < 0) {
    state.SkipWithError("a round trip of the floor failed");
    return -1;
  }
  session.Open(kBoardAddress);
  if (session.Opened() != OpenOutcome::Open(mode)) {
    state.SkipWithError("the link did not open over the transport under test");
    return -1;
  }
  return floor;
}

// --- The run beside its floor -------------------------------------------------

// Each iteration is one floor round and then one programming run, each over a
// connection made before its clock starts; the reported time is the run's. Taking
// them in turn puts both under the same load, which on a shared machine moves
// far more than the difference being measured.
void ProgramRun(benchmark::State& state, LinkMode mode, Placement placement) {
  if (ImageFile().Path().empty()) {
    state.SkipWithError("cannot write the S-record file");
    return;
  }
  const SimOptions options = BoardFor(mode);
  PinnedBoard board(options, placement);
  if (!board.Started()) {
    state.SkipWithError(("the simulated board did not start: " + board.Board().Error()).c_str());
  } else {
    const auto requests = ProgramRequests();
    std::uint8_t sequence = 1;
    ProgramObserver progress;
    double runSeconds = 0;
    double floorSeconds = 0;
    for (auto _ : state) {
      Session session(BenchWaits());
      const double floor = FloorThenOpen(state, session, mode, options, requests, sequence);
      if (floor < 0) break;
      const auto start = std::chrono::steady_clock::now();
      const bool done = ProgramBoard(session, ImageFile().Path(), {"B", "123456"}, progress).Succeeded();
      const std::chrono::duration<double> run = std::chrono::steady_clock::now() - start;
      session.Close();
      if (!done) {
        state.SkipWithError("the programming run failed");
        break;
      }
      state.SetIterationTime(run.count());
      runSeconds += run.count();
      floorSeconds += floor;
    }
    // A run that sent fewer frames than the image holds would look fast for the
    // wrong reason.
    if (board.Board().ProgramFramesWritten() != kFullImageFrames || !board.Board().Locked()) {
      state.SkipWithError("the board did not get the whole image");
    }
    using benchmark::Counter;
    state.counters["run_us_per_frame"] = Counter(runSeconds * 1e6 / kFullImageFrames, Counter::kAvgIterations);
    state.counters["floor_ms"] = Counter(floorSeconds * 1e3, Counter::kAvgIterations);
    state.counters["floor_us_per_frame"] = Counter(floorSeconds * 1e6 / kFullImageFrames, Counter::kAvgIterations);
    if (floorSeconds > 0) state.counters["x_floor"] = runSeconds / floorSeconds;
  }
}

// The image as a run sends it, loaded and stamped once, outside the clock.
const FlashImage& StampedImage() {
  static const std::unique_ptr<FlashImage> image = [] {
    auto loaded = std::make_unique<FlashImage>();
    const FileBytes read = ReadRegularFile(ImageFile().Path(), kMaxFirmwareBytes);
    if (read.status == FileReadStatus::kRead) LoadSRecordText(read.bytes.data(), read.bytes.size(), *loaded);
    StampIdentity(*loaded, "123456", "B");
    return loaded;
  }();
  return *image;
}

// Seconds for one run over a fresh link, or a negative value when it failed.
double TimedRun(LinkMode mode, VerifyMode verify) {
  BoardLink link(BenchWaits());
  if (OpenLink(link, kBoardAddress) != OpenOutcome::Open(mode)) return -1;
  ProgramObserver quiet;
  const auto start = std::chrono::steady_clock::now();
  const int result = ProgramImage(link, StampedImage(), quiet, verify).result;
  const std::chrono::duration<double> run = std::chrono::steady_clock::now() - start;
  CloseLink(link);
  return result == kProgramDone ? run.count() : -1;
}

// The reported time is the verifying run's share: with verify less without.
// Reading the frames back costs four reads a frame; reading the whole flash
// back 8192 reads, whatever the image holds.
void VerifyBesideProgram(benchmark::State& state, LinkMode mode, VerifyMode verify) {
  if (ImageFile().Path().empty()) {
    state.SkipWithError("cannot write the S-record file");
    return;
  }
  PinnedBoard board(BoardFor(mode), Placement::kSharedCore);
  double programSeconds = 0;
  double verifySeconds = 0;
  if (!board.Started()) {
    state.SkipWithError(("the simulated board did not start: " + board.Board().Error()).c_str());
  } else {
    for (auto _ : state) {
      const double plain = TimedRun(mode, VerifyMode::kNone);
      const double verified = TimedRun(mode, verify);
      if (plain < 0 || verified < 0) {
        state.SkipWithError("a run failed");
        break;
      }
      state.SetIterationTime(std::max(verified - plain, 0.0));
      programSeconds += plain;
      verifySeconds += verified - plain;
    }
    using benchmark::Counter;
    state.counters["program_ms"] = Counter(programSeconds * 1e3, Counter::kAvgIterations);
    state.counters["verify_ms"] = Counter(verifySeconds * 1e3, Counter::kAvgIterations);
    if (programSeconds > 0) state.counters["x_program"] = verifySeconds / programSeconds;
  }
}

// Each iteration is one floor round of 8192 reads, then one full dump over a
// session opened before its clock starts, as ProgramRun takes them in turn.
void DumpBesideFloor(benchmark::State& state, LinkMode mode, Placement placement) {
  const SimOptions options = BoardFor(mode);
  PinnedBoard board(options, placement);
  if (!board.Started()) {
    state.SkipWithError(("the simulated board did not start: " + board.Board().Error()).c_str());
    return;
  }
  const FloorRequests requests = ReadRequests();
  std::uint8_t sequence = 1;
  ReadObserver quiet;
  double dumpSeconds = 0;
  double floorSeconds = 0;
  for (auto _ : state) {
    Session session(BenchWaits());
    const double floor = FloorThenOpen(state, session, mode, options, requests, sequence);
    if (floor < 0) break;
    const BoardDump dump = DumpBoard(session, FlashRange{}, quiet);
    session.Close();
    // A dump that read less would look fast for the wrong reason.
    if (!dump.read.Whole() || dump.read.reads != read_const::kFullReads) {
      state.SkipWithError("the dump did not read the whole flash");
      break;
    }
    state.SetIterationTime(dump.seconds);
    dumpSeconds += dump.seconds;
    floorSeconds += floor;
  }
  using benchmark::Counter;
  state.counters["floor_ms"] = Counter(floorSeconds * 1e3, Counter::kAvgIterations);
  state.counters["dump_us_per_read"] = Counter(dumpSeconds * 1e6 / read_const::kFullReads, Counter::kAvgIterations);
  state.counters["floor_us_per_read"] = Counter(floorSeconds * 1e6 / read_const::kFullReads, Counter::kAvgIterations);
  if (floorSeconds > 0) state.counters["x_floor"] = dumpSeconds / floorSeconds;
}

BENCHMARK_CAPTURE(DumpBesideFloor, udp_own_cores, LinkMode::kUdp, Placement::kOwnCores)
    ->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(DumpBesideFloor, udp_shared_core, LinkMode::kUdp, Placement::kSharedCore)
    ->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(DumpBesideFloor, tcp_own_cores, LinkMode::kTcp, Placement::kOwnCores)
    ->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(DumpBesideFloor, tcp_shared_core, LinkMode::kTcp, Placement::kSharedCore)
    ->Unit(benchmark::kMillisecond)->UseManualTime();

BENCHMARK_CAPTURE(VerifyBesideProgram, udp_frames, LinkMode::kUdp, VerifyMode::kFrames)
    ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK_CAPTURE(VerifyBesideProgram, tcp_frames, LinkMode::kTcp, VerifyMode::kFrames)
    ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK_CAPTURE(VerifyBesideProgram, udp_full, LinkMode::kUdp, VerifyMode::kFull)
    ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK_CAPTURE(VerifyBesideProgram, tcp_full, LinkMode::kTcp, VerifyMode::kFull)
    ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

BENCHMARK_CAPTURE(ProgramRun, udp_own_cores, LinkMode::kUdp, Placement::kOwnCores)
    ->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(ProgramRun, udp_shared_core, LinkMode::kUdp, Placement::kSharedCore)
    ->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(ProgramRun, tcp_own_cores, LinkMode::kTcp, Placement::kOwnCores)
    ->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(ProgramRun, tcp_shared_core, LinkMode::kTcp, Placement::kSharedCore)
    ->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
