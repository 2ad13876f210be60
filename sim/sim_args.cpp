#include "sim/sim_args.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "sim/loader_wire.h"
#include "sim/sim_flash.h"
#include "sim/sim_sockets.h"

namespace sim {

const char kSimUsage[] =
    "usage: varnel-sim [OPTION...]\n"
    "A simulated Varnel board: the resident loader's read, erase, program and lock\n"
    "commands over UDP and TCP, a 128 KiB flash, and faults on request. Prints\n"
    "\"ready\" once it listens, then a line per command; runs until its time limit,\n"
#ifdef _WIN32
    "Ctrl+C or Ctrl+Break, then writes the flash file and exits.\n"
#else
    "SIGINT or SIGTERM, then writes the flash file and exits.\n"
#endif
    "A read answers at any address with the words asked for, at most 29; bytes at\n"
    "or beyond 0x20000 read as 0xFF.\n"
    "\n"
    "Board:\n"
    "  --bind ADDR            IPv4 address to listen on (default 127.0.0.1)\n"
    "  --udp-only             answer on UDP only\n"
    "  --tcp-only             answer on TCP only\n"
    "  --udp-port N           UDP port (default 1235)\n"
    "  --tcp-port N           TCP port (default 1234)\n"
    "  --revision C           revision character in the identity record (default B)\n"
    "  --serial S             serial number, up to 15 characters (default 123456); one of\n"
    "                         9 or more characters overwrites the hardware code. With\n"
    "                         --boards, board i carries the number at its end plus i-1,\n"
    "                         keeping its width (SN0099, SN0100, ...), or i appended\n"
    "                         when it ends in no digit\n"
    "  --hardware CODE        hardware code, up to 4 characters (default VR32)\n"
    "  --identity-hex HEX     the whole identity record at 0x420 as 32 hex digits, over\n"
    "                         --revision, --serial and --hardware (with --boards, for\n"
    "                         every board): FFFF...FF is a blank board\n"
    "  --flash-file PATH      write the flash there (raw 131072 bytes) on every lock\n"
    "                         and on exit; with --boards, board i's to PATH.i\n"
    "  --boards N             a production line of N boards (1 to 100) in turn: once its\n"
    "                         lock is acknowledged a board resets, answers nothing and\n"
    "                         refuses TCP connections for the reset silence, then the\n"
    "                         next board answers; after the last one the line stays\n"
    "                         silent\n"
    "  --reset-silence-ms MS  a line's board's silence after its lock (default 3000)\n"
    "  --time-limit SECONDS   stop after this long (default 600)\n"
    "  --quiet                no line per command\n"
    "  --help                 this text\n"
    "\n"
    "Faults (all off by default):\n"
    "  --drop-every N         do not send the Nth, 2Nth, ... UDP reply\n"
    "  --duplicate            send every reply twice\n"
    "  --stale                UDP: a datagram with the previous sequence byte and a\n"
    "                         failing content before each reply\n"
    "  --foreign [ADDR]       UDP: a copy of each reply first, sent from ADDR\n"
    "                         (default 127.0.0.2)\n"
    "  --reply-delay MS       delay every reply\n"
    "  --erase-delay MS       delay the erase reply further (a slow erase)\n"
    "  --erase-nak            refuse the erase\n"
    "  --erase-ignored        acknowledge the erase but keep the flash as it was\n"
    "  --lock-nak             refuse the lock\n"
    "  --nak-frame K          refuse the Kth program frame since the erase, from 1\n"
    "  --wrong-echo-frame K   write the Kth program frame but echo its address + 4\n"
    "  --corrupt-frame K      acknowledge the Kth program frame but store its first\n"
    "                         byte with the lowest bit flipped\n"
    "  --silent-after K       answer nothing at all once K program frames were\n"
    "                         answered (0: silent from the start)\n"
    "  --bad-read-checksum    read replies carry a checksum off by one\n"
    "  --read-claims-more     read replies claim one word more than they carry\n"
    "  --read-count N         read replies carry N words, 0..29\n"
    "  --split-tcp            send each TCP reply as two segments 30 ms apart\n";

namespace {

constexpr int kMaxDelayMs = 10 * 60 * 1000;
constexpr int kMaxTimeLimitSeconds = 366 * 24 * 60 * 60;
constexpr int kMaxPort = 65535;

// Two hex digits a byte, no separator; false unless exactly `bytes` of them.
bool ParseHexBytes(const std::string& text, std::size_t bytes, std::string& out) {
  if (text.size() != 2 * bytes) return false;
  out.clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const std::string pair = text.substr(i, 2);
    if (!std::isxdigit(static_cast<unsigned char>(pair[0])) || !std::isxdigit(static_cast<unsigned char>(pair[1]))) {
      return false;
    }
    out.push_back(static_cast<char>(std::strtoul(pair.c_str(), nullptr, 16)));
  }
  return true;
}

bool ParseInt(const char* text, int min, int max, int& out) {
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < min || value > max) return false;
  out = static_cast<int>(value);
  return true;
}

}  // namespace

bool ParseSimArgs(int argc, char** argv, SimArgs& out, std::string& error) {
  SimOptions& o = out.options;
  SimFaults& f = o.faults;
  struct Flag {
    const char* name;
    bool* target;
  } const flags[] = {
      {"--duplicate", &f.duplicateReplies},   {"--stale", &f.staleBeforeReply},
      {"--erase-nak", &f.eraseNak},           {"--erase-ignored", &f.eraseIgnored},
      {"--lock-nak", &f.lockNak},
      {"--bad-read-checksum", &f.badReadChecksum},
      {"--read-claims-more", &f.readClaimsMoreWords},
      {"--split-tcp", &f.splitTcpReplies},    {"--quiet", &out.quiet},
      {"--help", &out.help},                  {"-h", &out.help},
  };
  struct Number {
    const char* name;
    int min;
    int max;
    int* target;
  } const numbers[] = {
      {"--time-limit", 1, kMaxTimeLimitSeconds, &o.timeLimitSeconds},
      {"--drop-every", 1, INT_MAX, &f.dropEveryNthUdpReply},
      {"--reply-delay", 0, kMaxDelayMs, &f.replyDelayMs},
      {"--erase-delay", 0, kMaxDelayMs, &f.eraseDelayMs},
      {"--nak-frame", 1, INT_MAX, &f.nakAtProgramFrame},
      {"--wrong-echo-frame", 1, INT_MAX, &f.wrongEchoAtProgramFrame},
      {"--corrupt-frame", 1, INT_MAX, &f.corruptProgramFrame},
      {"--boards", 1, kMaxLineBoards, &o.lineBoards},
      {"--reset-silence-ms", 0, kMaxDelayMs, &o.resetSilenceMs},
      {"--silent-after", 0, INT_MAX, &f.silentAfterProgramFrames},
      {"--read-count", 0, kMaxReadWords, &f.readCount},
  };

  bool udpOnly = false;
  bool tcpOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    const auto needValue = [&]() {
      if (!value) error = name + " needs a value";
      return value != nullptr;
    };
    const auto bad = [&](const char* what) {
      error = name + ": " + what + ": " + value;
      return false;
    };

    bool done = false;
    for (const Flag& flag : flags) {
      if (name == flag.name) *flag.target = done = true;
    }
    for (const Number& number : numbers) {
      if (name != number.name) continue;
      if (!needValue()) return false;
      if (!ParseInt(value, number.min, number.max, *number.target)) {
        error = name + " takes a whole number from " + std::to_string(number.min) + " to " +
                std::to_string(number.max) + ": " + value;
        return false;
      }
      ++i;
      done = true;
    }
    if (done) continue;

    std::uint32_t address = 0;
    int port = 0;
    if (name == "--udp-only") {
      udpOnly = true;
    } else if (name == "--tcp-only") {
      tcpOnly = true;
    } else if (name == "--foreign") {
      f.foreignBeforeReply = true;
      // The address is optional: a following word that is not an option is it.
      if (value && std::strncmp(value, "-", 1) != 0) {
        if (!ParseIPv4(value, address)) return bad("not an IPv4 address");
        f.foreignAddress = value;
        ++i;
      }
    } else if (name == "--bind" || name == "--udp-port" || name == "--tcp-port" ||
               name == "--revision" || name == "--serial" || name == "--hardware" ||
               name == "--identity-hex" || name == "--flash-file") {
      if (!needValue()) return false;
      ++i;
      const std::string text = value;
      if (name == "--bind") {
        if (!ParseIPv4(text, address)) return bad("not an IPv4 address");
        o.bindAddress = text;
      } else if (name == "--udp-port" || name == "--tcp-port") {
        if (!ParseInt(value, 1, kMaxPort, port)) return bad("not a port from 1 to 65535");
        (name == "--udp-port" ? o.udpPort : o.tcpPort) = static_cast<std::uint16_t>(port);
      } else if (name == "--revision") {
        if (text.size() != 1) return bad("takes one character");
        o.revision = text[0];
      } else if (name == "--serial") {
        if (text.size() > static_cast<std::size_t>(kSerialMax)) return bad("too long");
        o.serial = text;
      } else if (name == "--hardware") {
        if (text.empty() || text.size() > static_cast<std::size_t>(kHardwareLength)) {
          return bad("empty or too long");
        }
        o.hardware = text;
      } else if (name == "--identity-hex") {
        if (!ParseHexBytes(text, kIdentityLength, o.identityRecord)) return bad("takes 32 hex digits");
      } else {
        if (text.empty()) return bad("empty path");
        o.flashFile = text;
      }
    } else {
      error = "unknown option " + name;
      return false;
    }
  }
  if (udpOnly && tcpOnly) {
    error = "--udp-only and --tcp-only exclude each other";
    return false;
  }
  o.udp = !tcpOnly;
  o.tcp = !udpOnly;
  return true;
}

}  // namespace sim
