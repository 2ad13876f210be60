#pragma once

// The one link between the tool and the board's resident loader: start-up of the
// socket library, opening (UDP probe, TCP fallback), closing, and single
// request/reply exchanges. It knows bytes, lengths and waits; the commands that
// travel through it live in protocol.h. All of its state lives in a BoardLink
// that the caller owns and passes to every call.

#include <cstdint>
#include <string>

#include "os/socket.h"

// The transport OpenLink chose. The numbers are the ones a Connect has always
// reported for them.
enum class LinkMode { kTcp = 0, kUdp = 1 };

namespace link_const {
constexpr std::uint16_t kTcpBoardPort = 1234;
constexpr std::uint16_t kUdpLocalPort = 1234;
constexpr std::uint16_t kUdpBoardPort = 1235;
constexpr int kProbeAttempts = 3;
constexpr int kProbeWaitMs = 2000;        // per attempt
constexpr int kPauseAfterConnectMs = 1000;  // the loader needs a moment after accept
// A board that is switched off answers neither the probe nor the connect; give up
// on the connect after about as long as a desktop socket library takes by itself,
// rather than the minutes some stacks spend retrying.
constexpr int kConnectTimeoutMs = 21000;
constexpr int kReplyCapacity = 128;       // every reply is received into 128 bytes
constexpr int kTimedOut = 297;            // an exchange's "no reply in time", as a count
// While a front end watches a wait (LinkObserver::Idle), the wait is cut into
// slices this long, so a window repaints at least this often.
constexpr int kIdleSliceMs = 50;
// The longest any reply is waited for, TCP or UDP: the UDP give-up.
constexpr int kLongestReplyWaitMs = 60000;
}  // namespace link_const

// Every exchange works in place on one buffer of this size: the request is sent
// from it and the reply lands in it, overwriting the request.
constexpr int kLinkRequestSize = link_const::kReplyCapacity;
using LinkRequest = std::uint8_t[kLinkRequestSize];

// The waits that shape how long a link operation may take. The tool runs with
// kBoardWaits; tests give a link shorter ones so that a silent board or a
// fallback to TCP does not cost them seconds.
struct LinkWaits {
  int probeMs;              // per probe attempt
  int pauseAfterConnectMs;  // after a TCP connect
  int pauseAfterLockMs;     // while the board resets after lock
  int udpGiveUpCapMs;       // a UDP exchange gives up after min(its TCP wait, this)
  int readTcpMs;            // TCP reply waits of the four commands
  int eraseTcpMs;
  int programTcpMs;
  int lockTcpMs;
  int udpPerSendMs;         // a UDP request unanswered this long is sent again
};
// No reply is waited for longer than link_const::kLongestReplyWaitMs, over
// either transport: a board that falls silent mid-run is given up on within a
// minute (TcpExchange and UdpExchange also cap a longer wait given to them).
constexpr LinkWaits kBoardWaits{
    link_const::kProbeWaitMs, link_const::kPauseAfterConnectMs, 2000, link_const::kLongestReplyWaitMs,
    5000, link_const::kLongestReplyWaitMs, link_const::kLongestReplyWaitMs, 1000, 50,
};

// What happened on the wire, for a front end that keeps a trace of a run.
struct LinkTraceEvent {
  enum Kind {
    kRequest,     // a request sent for the first time
    kResend,      // the same request again, unanswered within the per-send wait
    kReply,       // the reply taken
    kPassedOver,  // a datagram not taken: stale sequence byte, too short, or foreign
    kTimeout,     // the wait ran out
  };
  Kind kind;
  LinkMode mode;
  const std::uint8_t* bytes;       // what was sent or received; null for kTimeout
  int length;                      // bytes, or for kTimeout the wait in ms
  std::uint32_t fromAddress = 0;   // kPassedOver: the datagram's source
  // Where the bytes went or came from, as on the wire: the socket's own end
  // (zero while the system cannot say) and the board's, or for kPassedOver the
  // datagram's sender, whatever address it came from.
  Endpoint local;
  Endpoint remote;
};

// A front end's view into the waits: a window stays painted by handling its
// events in Idle (called at least every kIdleSliceMs while the link waits), and
// a trace records every event. The link decides nothing on the observer's word.
class LinkObserver {
 public:
  virtual ~LinkObserver() = default;
  virtual void Idle() {}
  virtual void Trace(const LinkTraceEvent&) {}
  // A diagnostic line (with its line end) for whoever watches the tool's
  // output: a socket failure, a wait given up, the start of programming. The
  // front end decides where it goes; a link nobody watches says nothing.
  virtual void Diagnostic(const std::string& /*line*/) {}
};

// The state of one link: its socket, the transport OpenLink chose, the board's
// endpoints, the UDP sequence byte and the waits it runs with. The board UDP
// endpoint follows the source port of every accepted reply, so later requests
// go where the board answers from; the address stays the one the link was
// opened with. Closing is the owner's job (CloseLink), and the destructor does
// it for a link still open. A link given a network interface ties every socket
// it opens to that interface, so each port of a station reaches its own board.
struct BoardLink {
  explicit BoardLink(const LinkWaits& linkWaits = kBoardWaits) : waits(linkWaits) {}
  ~BoardLink();
  BoardLink(const BoardLink&) = delete;
  BoardLink& operator=(const BoardLink&) = delete;

  bool IsOpen() const { return socket != kNoSocket; }

  SocketHandle socket = kNoSocket;
  LinkMode mode = LinkMode::kTcp;  // while open
  Endpoint localUdp;
  Endpoint local;  // the socket's own end as the board sees it, once a trace asked
  Endpoint boardTcp;
  Endpoint boardUdp;
  std::uint8_t sequence = 0;  // 0 only during the probe; 1..255 afterwards
  LinkWaits waits;
  std::string interfaceName;  // empty: whichever interface the routes choose
  LinkObserver* observer = nullptr;  // not owned; may be null
  // When the observer's Idle last ran: a run of replies that each come sooner
  // than kIdleSliceMs must still give the window its events that often.
  std::int64_t lastIdleMs = 0;
};

// How an exchange or a command ended. Only kAccepted is a reply the caller may
// use; the others keep apart "nothing came", "the socket failed", "the board
// said no" and "what came was not a reply to this request".
enum class LinkCause {
  kAccepted,
  kNoReply,      // no reply within waitMs
  kSocketError,  // socketError holds the code
  kRefused,      // the board answered with ack instead of 0x4F
  kMalformed,    // wrong length (length vs expectedLength) or, with badChecksum, checksum
  kWrongEcho,    // the reply names another address than the request
};

struct LinkOutcome {
  LinkCause cause = LinkCause::kAccepted;
  int length = 0;          // bytes received
  int waitMs = 0;          // kNoReply: the wait that ran out
  int socketError = 0;     // kSocketError
  int expectedLength = 0;  // kMalformed by length
  bool badChecksum = false;
  std::uint8_t ack = 0;    // kRefused: the byte in place of 0x4F
  std::uint32_t expectedAddress = 0;  // kWrongEcho
  std::uint32_t echoedAddress = 0;

  bool Accepted() const { return cause == LinkCause::kAccepted; }
  // The count the exchanges report: the reply's length, kTimedOut, or the
  // socket error code. Never equal to a reply length for a failure.
  int Count() const;
};

// 0, or the socket library's error code when it cannot be started.
int StartSockets();

// Hands a diagnostic line to the link's observer, if it has one.
void SayOnLink(const BoardLink& link, const std::string& line);

// How OpenLink ended: the transport of the link that stands, or the socket
// library's error code (above 128, never 297) when none does.
struct OpenOutcome {
  LinkMode mode = LinkMode::kUdp;  // when error is 0
  int error = 0;

  bool Opened() const { return error == 0; }
  // The one number a Connect reports: 0 TCP, 1 UDP, or the error code.
  int Code() const { return Opened() ? static_cast<int>(mode) : error; }
  static OpenOutcome Open(LinkMode mode) { return {mode, 0}; }
  static OpenOutcome Failed(int error) { return {LinkMode::kUdp, error}; }
  friend bool operator==(const OpenOutcome&, const OpenOutcome&) = default;
};

// Opens a link to the board at the dotted address: UDP when the board answers
// the UDP probe, otherwise TCP when a connection stands. A link already open is
// closed first. link.mode holds the transport when the link opened. With an
// interface that cannot be tied to, nothing is sent and its error returned.
OpenOutcome OpenLink(BoardLink& link, const char* address);

// 0 with the link closed, or 1 when the socket cannot be closed (it stays).
int CloseLink(BoardLink& link);

// 1 when readable, 0 on time-out, or a socket error code.
int WaitReadable(BoardLink& link, int milliseconds);

// Waits while the board settles (after a connect, after the lock), in slices
// with the observer's Idle between them when one is set; the total is the same.
void PauseLink(BoardLink& link, int milliseconds);

// Send `length` bytes of buffer and receive the reply into it (at most
// kLinkRequestSize bytes). Over UDP buffer[0] must hold CurrentSequence(link); an
// unanswered request is sent again every perSendMs until giveUpMs have passed.
LinkOutcome TcpExchange(BoardLink& link, std::uint8_t* buffer, int length, int milliseconds);
LinkOutcome UdpExchange(BoardLink& link, std::uint8_t* buffer, int length, int perSendMs, int giveUpMs);

std::uint8_t CurrentSequence(const BoardLink& link);
