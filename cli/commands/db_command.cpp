// tovrin-cli db: what the station database holds, for the people who run the
// line: the numbers whose run never ended (and releasing one), the runs, one
// board's history, and a range started where a STATE file left off.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/output/text_output.h"
#include "run/run_record.h"
#include "station/db_tasks.h"

namespace {

// A run's or an allocation's job: null without one, a null signer unsigned.
Json StoredJobJson(const std::string& name, const std::string& sha256, const std::string& signer) {
  if (name.empty()) return nullptr;
  return Json{{"name", name}, {"sha256", sha256}, {"signer", signer.empty() ? Json(nullptr) : Json(signer)}};
}

Json AllocationJson(const AllocationRow& a) {
  auto orNull = [](const std::string& s) { return s.empty() ? Json(nullptr) : Json(s); };
  return Json{{"serial", a.serial},
              {"state", a.state},
              {"station", a.station},
              {"slot", a.slot},
              {"operator", a.operatorName},
              {"sha256", a.sha256},
              {"identity_before", a.identityBefore},
              {"allocated_at", a.allocatedAt},
              {"finished_at", orNull(a.finishedAt)},
              {"cause", orNull(a.cause)},
              {"released_by", orNull(a.releasedBy)},
              {"released_at", orNull(a.releasedAt)},
              {"job", StoredJobJson(a.jobName, a.jobSha256, a.jobSigner)}};
}

Json RunJson(const RunRow& r) {
  const Json record = Json::parse(r.record.json, nullptr, false);
  return Json{{"at", r.at},
              {"command", r.record.command},
              {"station", r.record.station},
              {"slot", r.record.slot},
              {"operator", r.record.operatorName},
              {"serial", r.record.serial.empty() ? Json(nullptr) : Json(r.record.serial)},
              {"sha256", r.record.sha256},
              {"result", r.record.result},
              {"conflict", r.conflict.empty() ? Json(nullptr) : Json(r.conflict)},
              {"job", StoredJobJson(r.record.jobName, r.record.jobSha256, r.record.jobSigner)},
              {"record", record.is_discarded() ? Json(r.record.json) : record}};
}

// A field as CSV writes it: quoted when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

void PrintAllocation(std::FILE* out, const AllocationRow& a) {
  std::fprintf(out, "%s  %-10s  allocated %s  station %s  slot %s  operator %s", a.serial.c_str(), a.state.c_str(),
               a.allocatedAt.c_str(), Printable(a.station).c_str(), Printable(a.slot).c_str(),
               Printable(a.operatorName).c_str());
  if (!a.finishedAt.empty()) std::fprintf(out, "  ended %s", a.finishedAt.c_str());
  if (!a.releasedBy.empty()) std::fprintf(out, "  released by %s", Printable(a.releasedBy).c_str());
  if (!a.cause.empty()) std::fprintf(out, "  cause: %s", Printable(a.cause).c_str());
  std::fprintf(out, "\n");
}

void PrintRuns(const CliOptions& options, const CliStreams& streams, const std::vector<RunRow>& runs) {
  if (options.db.csv) {
    std::fprintf(streams.out, "time,command,station,slot,operator,serial,sha256,result,conflict,job,job_sha256,job_signer\n");
    for (const RunRow& r : runs) {
      std::fprintf(streams.out, "%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s\n", CsvField(r.at).c_str(),
                   CsvField(r.record.command).c_str(), CsvField(r.record.station).c_str(),
                   CsvField(r.record.slot).c_str(), CsvField(r.record.operatorName).c_str(),
                   CsvField(r.record.serial).c_str(), CsvField(r.record.sha256).c_str(),
                   CsvField(r.record.result).c_str(), CsvField(r.conflict).c_str(), CsvField(r.record.jobName).c_str(),
                   CsvField(r.record.jobSha256).c_str(), CsvField(r.record.jobSigner).c_str());
    }
    return;
  }
  for (const RunRow& r : runs) {
    std::fprintf(streams.out, "%s  %-7s  %-12s  %s  station %s  slot %s  operator %s  sha256 %s", r.at.c_str(),
                 r.record.command.c_str(), r.record.result.c_str(),
                 r.record.serial.empty() ? "-" : Printable(r.record.serial).c_str(),
                 Printable(r.record.station).c_str(), Printable(r.record.slot).c_str(),
                 Printable(r.record.operatorName).c_str(), r.record.sha256.c_str());
    if (!r.record.jobName.empty()) {
      std::fprintf(streams.out, "  job %s (%s)", Printable(r.record.jobName).c_str(),
                   r.record.jobSigner.empty() ? "unsigned" : ("signed by " + r.record.jobSigner).c_str());
    }
    std::fprintf(streams.out, "\n");
    if (!r.conflict.empty()) std::fprintf(streams.out, "  CONFLICT: %s\n", Printable(r.conflict).c_str());
  }
}

int Failed(const CliOptions& options, const CliStreams& streams, const StoreError& e) {
  if (options.json) {
    std::fprintf(streams.out, "%s\n", JsonLine(Json{{"command", "db"}, {"result", StoreExitStatus(e.failure)}, {"message", e.message}}).c_str());
  }
  std::fprintf(streams.err, "tovrin-cli: %s\n", e.message.c_str());
  return StoreExitStatus(e.failure);
}

void PrintJson(const CliOptions& options, std::FILE* out, const DbAnswer& answer) {
  const DbOptions& db = options.db;
  Json json;
  Json allocations = Json::array();
  for (const AllocationRow& a : answer.allocations) allocations.push_back(AllocationJson(a));
  Json runs = Json::array();
  for (const RunRow& r : answer.runs) runs.push_back(RunJson(r));
  switch (db.action) {
    case DbAction::kInit: json = Json{{"command", "db init"}, {"db", RedactTarget(options.dbTarget)}, {"result", 0}}; break;
    case DbAction::kPending: json = Json{{"command", "db pending"}, {"pending", allocations}}; break;
    case DbAction::kRelease: json = Json{{"command", "db release"}, {"released", AllocationJson(answer.released)}}; break;
    case DbAction::kReport: json = Json{{"command", "db report"}, {"runs", runs}}; break;
    case DbAction::kFind:
      json = Json{{"command", "db find"}, {"serial", db.serial}, {"allocations", allocations}, {"runs", runs}};
      break;
    case DbAction::kImportState:
      json = Json{{"command", "db import-state"}, {"state", db.stateFile}, {"result", 0}};
      break;
  }
  std::fprintf(out, "%s\n", JsonLine(json).c_str());
}

void PrintText(const CliOptions& options, const CliStreams& streams, const DbAnswer& answer) {
  const DbOptions& db = options.db;
  std::FILE* out = streams.out;
  switch (db.action) {
    case DbAction::kInit:
      std::fprintf(out, "%s is a station database (%s), its schema up to date\n",
                   Printable(RedactTarget(options.dbTarget)).c_str(), answer.kind.c_str());
      break;
    case DbAction::kPending:
      for (const AllocationRow& a : answer.allocations) PrintAllocation(out, a);
      std::fprintf(out, "%zu pending\n", answer.allocations.size());
      break;
    case DbAction::kRelease: {
      const AllocationRow& released = answer.released;
      std::fprintf(out, "Released %s (pending since %s, station %s, slot %s) by %s at %s\n",
                   Printable(released.serial).c_str(), released.allocatedAt.c_str(),
                   Printable(released.station).c_str(), Printable(released.slot).c_str(),
                   Printable(answer.releasedBy).c_str(), released.releasedAt.c_str());
      break;
    }
    case DbAction::kReport: PrintRuns(options, streams, answer.runs); break;
    case DbAction::kFind:
      std::fprintf(out, "%s: %zu allocations, %zu runs\n", Printable(db.serial).c_str(), answer.allocations.size(),
                   answer.runs.size());
      for (const AllocationRow& row : answer.allocations) PrintAllocation(out, row);
      PrintRuns(options, streams, answer.runs);
      break;
    case DbAction::kImportState: std::fprintf(out, "Range imported from %s\n", Printable(db.stateFile).c_str()); break;
  }
}

}  // namespace

int RunDb(const CliOptions& options, const CliStreams& streams) {
  const DbOptions& db = options.db;
  const DbTask task{db.action, options.dbTarget, db.serial, db.stateFile,
                    ReportFilter{db.serial, db.from, db.to, db.station, db.result, db.job}, options.operatorName};
  const DbAnswer answer = RunDbTask(task);
  if (answer.error.Failed()) return Failed(options, streams, answer.error);
  if (options.json) {
    PrintJson(options, streams.out, answer);
  } else {
    PrintText(options, streams, answer);
  }
  std::fflush(streams.out);
  return 0;
}
