#include "cli/db_args.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "common/text.h"

namespace {

// Reads exactly `digits` decimal digits at `at`, advancing it.
bool Digits(const std::string& text, std::size_t& at, int digits, int& value) {
  value = 0;
  for (int i = 0; i < digits; ++i, ++at) {
    if (at >= text.size() || text[at] < '0' || text[at] > '9') return false;
    value = value * 10 + (text[at] - '0');
  }
  return true;
}

bool Consume(const std::string& text, std::size_t& at, char c) {
  if (at >= text.size() || text[at] != c) return false;
  ++at;
  return true;
}

// --from and --to: refused unless a date or time, and kept as stored (UTC).
CLI::Validator TimeOption(bool endOfDay) {
  return CLI::Validator(
      [endOfDay](std::string& text) -> std::string {
        std::string utc;
        if (!UtcTimeOf(text, endOfDay, utc)) {
          return text + " is not an ISO 8601 date or time (2026-01-31, 2026-01-31T08:00, 2026-01-31T08:00+01:00)";
        }
        text = utc;
        return "";
      },
      "");
}

const char kDbFooter[] =
    "\n"
    "The station database records every serial number handed out (pending until\n"
    "its run ends; then programmed, verified, failed, returned to the pool when\n"
    "the run failed before the identity frame was sent, or released by a person)\n"
    "and every run. TARGET is a SQLite file, or PostgreSQL: a postgresql:// URL\n"
    "or a libpq keyword string (\"dbname=line user=station\"; host, database and\n"
    "user may also come from libpq's environment, service and password files).\n"
    "A SQLite file is created only by db init; every other command refuses one\n"
    "that does not exist. A password is never printed. Exits with 0, 14 (the\n"
    "database cannot be opened or written) or 64.\n";

CLI::Option* AddTarget(CLI::App& command, CliOptions& options) {
  return command.add_option("--db", options.dbTarget, "Station database: a SQLite file or a postgresql:// URL")
      ->type_name("TARGET");
}

void AddOperator(CLI::App& command, CliOptions& options, const char* what) {
  command.add_option("--operator", options.operatorName, what)->type_name("NAME");
}

}  // namespace

void AddStationOptions(CLI::App& command, CliOptions& options) {
  AddTarget(command, options);
  AddOperator(command, options, "Operator recorded with each board (--db); default: the user");
}

DbCommand AddDbCommand(CLI::App& app, CliOptions& options) {
  DbCommand c;
  c.db = app.add_subcommand("db", "Look after the station database: pending numbers, reports, history");
  c.db->require_subcommand(1);
  c.db->footer(kDbFooter);

  c.init = c.db->add_subcommand("init", "Create a SQLite station database (or bring a database's schema up to date)");
  c.init->add_option("TARGET", options.dbTarget, "The SQLite file to create, or a PostgreSQL target")
      ->type_name("")
      ->required();

  c.pending = c.db->add_subcommand("pending", "List the numbers handed out whose run never ended");
  AddTarget(*c.pending, options)->required();

  c.release = c.db->add_subcommand("release", "Give a pending number back to the pool (recorded with who and when)");
  c.release->add_option("SERIAL", options.db.serial, "The pending serial number")->type_name("")->required();
  AddTarget(*c.release, options)->required();
  AddOperator(*c.release, options, "Who releases it; default: the user");

  c.report = c.db->add_subcommand("report", "Print the recorded runs");
  AddTarget(*c.report, options)->required();
  c.report->add_option("--serial", options.db.serial, "Only the runs of this serial number")->type_name("SERIAL");
  c.report->add_option("--from", options.db.from,
                       "Only runs at or after this time: ISO 8601, UTC unless an offset is given (2026-01-31T08:00)")
      ->type_name("TIME")
      ->check(TimeOption(false));
  c.report->add_option("--to", options.db.to, "Only runs at or before this time (a date alone: to its end)")
      ->type_name("TIME")
      ->check(TimeOption(true));
  c.report->add_option("--station", options.db.station, "Only the runs of this station (host name)")
      ->type_name("HOST");
  c.report->add_option("--result", options.db.result,
                       "Only runs with this result: programmed, verified, failed, interrupted, refused")
      ->type_name("RESULT");
  c.report->add_option("--job", options.db.job, "Only the runs of the approved job of this name")->type_name("NAME");
  c.report->add_flag("--csv", options.db.csv, "Comma-separated values with a header line");

  c.find = c.db->add_subcommand("find", "Show one serial number's whole history");
  c.find->add_option("SERIAL", options.db.serial, "The serial number")->type_name("")->required();
  AddTarget(*c.find, options)->required();

  c.importState = c.db->add_subcommand("import-state", "Start a range where a STATE file left off");
  c.importState->add_option("STATE", options.db.stateFile, "The STATE file")->type_name("")->required();
  AddTarget(*c.importState, options)->required();
  return c;
}

bool UtcTimeOf(const std::string& text, bool endOfDay, std::string& utc) {
  using namespace std::chrono;
  std::size_t at = 0;
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  if (!Digits(text, at, 4, y) || !Consume(text, at, '-') || !Digits(text, at, 2, mo) || !Consume(text, at, '-') ||
      !Digits(text, at, 2, d)) {
    return false;
  }
  const year_month_day date{year{y}, month{static_cast<unsigned>(mo)}, day{static_cast<unsigned>(d)}};
  if (!date.ok()) return false;
  const bool dateOnly = at == text.size();
  if (!dateOnly) {
    if (!Consume(text, at, 'T') || !Digits(text, at, 2, h) || !Consume(text, at, ':') || !Digits(text, at, 2, mi)) {
      return false;
    }
    if (Consume(text, at, ':')) {
      if (!Digits(text, at, 2, s)) return false;
      if (Consume(text, at, '.') || Consume(text, at, ',')) {
        int scale = 100;
        const std::size_t first = at;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10) ms += (text[at] - '0') * scale;
        if (at == first) return false;
      }
    }
    if (h > 23 || mi > 59 || s > 59) return false;
  }
  int offsetMinutes = 0;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    const int sign = text[at++] == '+' ? 1 : -1;
    int oh = 0, om = 0;
    if (!Digits(text, at, 2, oh)) return false;
    if (at < text.size()) {
      Consume(text, at, ':');
      if (!Digits(text, at, 2, om)) return false;
    }
    if (oh > 23 || om > 59) return false;
    offsetMinutes = sign * (oh * 60 + om);
  } else if (at < text.size()) {
    if (!Consume(text, at, 'Z')) return false;
  }
  if (at != text.size()) return false;
  if (dateOnly && endOfDay) {
    h = 23;
    mi = 59;
    s = 59;
    ms = 999;
  }
  const auto local = sys_days{date} + hours{h} + minutes{mi} + seconds{s} + milliseconds{ms};
  utc = UtcText(local - minutes{offsetMinutes});
  return true;
}

void DbActionParsed(const DbCommand& c, CliOptions& options) {
  options.db.action = c.init->parsed()      ? DbAction::kInit
                      : c.pending->parsed() ? DbAction::kPending
                      : c.release->parsed() ? DbAction::kRelease
                      : c.find->parsed()    ? DbAction::kFind
                      : c.importState->parsed() ? DbAction::kImportState
                                                : DbAction::kReport;
}
