#pragma once

// The JSON the commands print under --json and append with --log. Objects keep
// their keys in the order written, so a person reading a log sees time, board
// and identity first.

#include <nlohmann/json.hpp>

#include <chrono>
#include <optional>
#include <string>

#include "cli/board_session.h"
#include "flash/program_board.h"

using Json = nlohmann::ordered_json;

// One line with no line end. Text from a board or a file that is not UTF-8 (a
// blank identity record is 0xFF bytes) is replaced rather than refused; the
// identity's exact bytes travel as hex beside it.
std::string JsonLine(const Json& value);

// A file name as JSON text: the name itself when it is UTF-8; otherwise with
// each byte that is not part of a UTF-8 character written as \xHH (and each
// backslash as \x5C), so nothing is replaced by U+FFFD.
Json FileNameJson(const std::string& name);
// Puts "file" (as above) into report and, when the name is not UTF-8,
// "file_hex": the name's exact bytes as hex, from which it can be recovered.
void AddFileName(Json& report, const std::string& name);

// revision, serial, hardware and the 16 bytes as hex; null before a read.
Json IdentityJson(const BoardSession& session);

// "UDP", "TCP", or null when no link was opened.
Json LinkJson(const BoardSession& session);

// The format a file was read in ("srec", "ihex", "elf", "bin"), or null when it
// was not read or its format was not recognised.
Json FormatJson(bool read, const LoadReport& load);

// Why a run did not end as asked: the command it concerns (none when no
// command was sent), for a program frame its number (from 1) and address, and
// what went wrong.
struct Cause {
  const char* command = nullptr;
  int frame = 0;
  std::uint32_t address = 0;
  std::string what;
};

// Of a command whose reply was not accepted; none for an accepted one.
std::optional<Cause> OutcomeCause(LinkCommand command, const LinkOutcome& outcome, int frame = 0,
                                  std::uint32_t address = 0);
// Of a session and the run on it (`started`: the erase was to be sent): a stop
// asked for by Ctrl+C or SIGTERM, a command that failed, or an identity that
// could not be read.
std::optional<Cause> RunCause(const BoardSession& session, bool started, const ProgramRun& run);

// {"command", "frame", "address", "what"}, or null.
Json CauseJson(const std::optional<Cause>& cause);
// "program frame 3 at 0x00080: board refused (0x4E instead of 0x4F)".
std::string CauseText(const Cause& cause);

// Seconds since `start`, to the millisecond.
double SecondsSince(std::chrono::steady_clock::time_point start);
