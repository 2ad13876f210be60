#pragma once

// The files a command reads and writes, compared before anything is opened or
// sent: a file it writes must be no other file it reads or writes. A trace
// named like the firmware would overwrite it, a run log named like STATE would
// lose its records to STATE's rename, and two outputs in one file would mix.

#include <string>
#include <vector>

#include "cli/cli_options.h"

struct FileUse {
  std::string role;  // as the operator wrote it: "FILE", "--log", ...
  std::string path;
  bool reads = false;
  bool writes = false;
  // Written whole into a temporary file beside it and renamed over it: the
  // rename would put a file in the place of a device, a FIFO or a folder.
  bool replaced = false;
};

// Every file the command line names for the command, with what the command
// does with each. A new option that names a file adds its line here.
std::vector<FileUse> FileUsesOf(const CliOptions& options);

// Empty when no file written is another use's file (by identity: a hard link,
// a symbolic link or another spelling of the same path is the same file, and so
// are two names of one file not made yet); otherwise the operator's words.
std::string SameFileRefusal(const std::vector<FileUse>& uses);

// Empty when every file written through a rename is a regular file or does not
// exist yet; otherwise the operator's words. "-" is refused too: it does not
// stand for standard output there, and would become a file named "-".
std::string ReplacedFileRefusal(const std::vector<FileUse>& uses);
