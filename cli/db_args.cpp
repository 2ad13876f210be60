#include "cli/db_args.h"

#include <string>

namespace {

const char kDbFooter[] =
    "\n"
    "The station database records every serial number handed out (pending until\n"
    "its run ends; then programmed, verified, failed, returned to the pool when\n"
    "the run failed before the identity frame was sent, or released by a person)\n"
    "and every run. TARGET is a SQLite file, or a postgresql:// URL (host,\n"
    "database and user from the URL or libpq's environment, service and password\n"
    "files). A password is never printed. Exits with 0, 14 (the database cannot\n"
    "be opened or written) or 64.\n";

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

  c.pending = c.db->add_subcommand("pending", "List the numbers handed out whose run never ended");
  AddTarget(*c.pending, options)->required();

  c.release = c.db->add_subcommand("release", "Give a pending number back to the pool (recorded with who and when)");
  c.release->add_option("SERIAL", options.db.serial, "The pending serial number")->type_name("")->required();
  AddTarget(*c.release, options)->required();
  AddOperator(*c.release, options, "Who releases it; default: the user");

  c.report = c.db->add_subcommand("report", "Print the recorded runs");
  AddTarget(*c.report, options)->required();
  c.report->add_option("--serial", options.db.serial, "Only the runs of this serial number")->type_name("SERIAL");
  c.report->add_option("--from", options.db.from, "Only runs at or after this UTC time (2026-01-31T08:00)")
      ->type_name("TIME");
  c.report->add_option("--to", options.db.to, "Only runs at or before this UTC time")->type_name("TIME");
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

void DbActionParsed(const DbCommand& c, CliOptions& options) {
  options.db.action = c.pending->parsed()   ? DbAction::kPending
                      : c.release->parsed() ? DbAction::kRelease
                      : c.find->parsed()    ? DbAction::kFind
                      : c.importState->parsed() ? DbAction::kImportState
                                                : DbAction::kReport;
}
