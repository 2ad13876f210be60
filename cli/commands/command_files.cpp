#include "cli/commands/command_files.h"

#include "os/path_facts.h"
#include "cli/output/wire_record.h"
#include "common/text.h"
#include "station/serial_store.h"

std::vector<FileUse> FileUsesOf(const CliOptions& options) {
  std::vector<FileUse> uses;
  // Standard input is not a file the command line names.
  if (!options.file.empty() && options.file != "-") uses.push_back({"FILE", options.file, true, false});
  if (!options.stateFile.empty()) {
    uses.push_back({"--state", options.stateFile, true, true});
    // STATE is replaced through this file beside it, which is written first.
    uses.push_back({"--state's temporary file", options.stateFile + ".tmp", false, true});
  }
  if (!options.logFile.empty()) uses.push_back({"--log", options.logFile, false, true});
  if (!options.traceFile.empty()) uses.push_back({"--trace", options.traceFile, false, true});
  if (!options.pcapFile.empty() && options.interfaces.size() > 1) {
    // A gang keeps a capture per slot.
    for (std::size_t slot = 1; slot <= options.interfaces.size(); ++slot) {
      uses.push_back({"--pcap", SlotCapturePath(options.pcapFile, static_cast<int>(slot)), false, true});
    }
  } else if (!options.pcapFile.empty()) {
    uses.push_back({"--pcap", options.pcapFile, false, true});
  }
  if (!options.outFile.empty()) {
    uses.push_back({"--out", options.outFile, false, true, true});
    uses.push_back({"--out's temporary file", options.outFile + ".tmp", false, true});
  }
  // A SQLite database is a file of the station's too (with its write-ahead log).
  if (!options.dbTarget.empty() && !IsPostgresTarget(options.dbTarget)) {
    uses.push_back({"--db", options.dbTarget, true, true});
    uses.push_back({"--db's write-ahead log", options.dbTarget + "-wal", true, true});
  }
  return uses;
}

std::string SameFileRefusal(const std::vector<FileUse>& uses) {
  std::vector<PathFacts> facts;
  for (const FileUse& use : uses) facts.push_back(LookUpPath(use.path));
  for (std::size_t i = 0; i < uses.size(); ++i) {
    for (std::size_t j = i + 1; j < uses.size(); ++j) {
      if (!(uses[i].writes || uses[j].writes) || !SameFile(facts[i], facts[j])) continue;
      return uses[i].role + " " + Printable(uses[i].path) + " and " + uses[j].role + " " + Printable(uses[j].path) +
             " are the same file; each needs a file of its own";
    }
  }
  return "";
}

std::string ReplacedFileRefusal(const std::vector<FileUse>& uses) {
  for (const FileUse& use : uses) {
    if (!use.replaced) continue;
    if (use.path == "-") return use.role + " - would be a file named \"-\"; name the file to write";
    const PathFacts facts = LookUpPath(use.path);
    if (facts.kind == PathKind::kMissing || facts.kind == PathKind::kRegular) continue;
    const std::string what = facts.kind == PathKind::kUnknown ? "cannot be looked up: " + facts.reason
                                                              : std::string("is ") + PathKindName(facts.kind);
    return use.role + " " + Printable(use.path) + " " + what + "; it must be a regular file or not exist yet";
  }
  return "";
}
