#pragma once

// What a station's trust needs of the system, one file per system: where the
// station-wide trusted keys live, and the key files in a folder.

#include <string>
#include <vector>

// /etc/tovrin/trusted-keys on Linux, %ProgramData%\Tovrin\trusted-keys on
// Windows (empty when ProgramData is not set).
std::string StationTrustFolder();

enum class FolderList { kListed, kAbsent, kUnreadable };

// The files in `folder` whose names end in ".pem", sorted, as full paths.
FolderList KeyFilesIn(const std::string& folder, std::vector<std::string>& paths, std::string& reason);
