#include "os/path_facts.h"

#include <windows.h>

#include <filesystem>

#include "os/handle.h"
#include "os/system_text.h"

namespace {

// Opened only to read its attributes, sharing everything, so no writer or
// reader of it is disturbed; BACKUP_SEMANTICS opens a folder too.
HANDLE OpenToLookAt(const std::wstring& name) {
  return ::CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

PathFacts Unknown(DWORD error) {
  PathFacts facts;
  facts.kind = PathKind::kUnknown;
  facts.reason = "system error " + std::to_string(error);
  return facts;
}

PathFacts Existing(HANDLE handle) {
  PathFacts facts;
  const DWORD type = ::GetFileType(handle);
  if (type == FILE_TYPE_CHAR) {
    facts.kind = PathKind::kDevice;
    return facts;
  }
  if (type == FILE_TYPE_PIPE) {
    facts.kind = PathKind::kFifo;
    return facts;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (type != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info)) {
    facts.kind = PathKind::kOther;
    return facts;
  }
  facts.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::kFolder : PathKind::kRegular;
  facts.identified = true;
  facts.volume = info.dwVolumeSerialNumber;
  facts.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return facts;
}

// Nothing at `name`: the file a write would create, told by its folder and its
// name there, lower-cased as the system compares names.
PathFacts Missing(const std::wstring& name) {
  PathFacts facts;
  facts.kind = PathKind::kMissing;
  const std::filesystem::path path(name);
  std::wstring file = path.filename().wstring();
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) folder = L".";
  if (file.empty()) return facts;
  Handle opened(OpenToLookAt(folder.wstring()));
  if (opened.h == INVALID_HANDLE_VALUE) return facts;
  const PathFacts where = Existing(opened.h);
  if (where.kind != PathKind::kFolder) return facts;
  ::CharLowerBuffW(file.data(), static_cast<DWORD>(file.size()));
  facts.identified = true;
  facts.volume = where.volume;
  facts.index = where.index;
  facts.name = Utf8FromWide(file);
  return facts;
}

}  // namespace

PathFacts LookUpPath(const std::string& path) {
  const std::wstring name = WideFromUtf8(path);
  Handle opened(OpenToLookAt(name));
  if (opened.h != INVALID_HANDLE_VALUE) return Existing(opened.h);
  const DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND) return Missing(name);
  if (error == ERROR_PATH_NOT_FOUND) {
    PathFacts facts;
    facts.kind = PathKind::kMissing;  // its folder is missing too: it cannot be written
    return facts;
  }
  return Unknown(error);
}
