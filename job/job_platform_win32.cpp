#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "common/system_text.h"
#include "job/job_platform.h"

namespace {
constexpr wchar_t kTrustUnderProgramData[] = L"\\Tovrin\\trusted-keys";
constexpr wchar_t kKeyPattern[] = L"\\*.pem";
}  // namespace

std::string StationTrustFolder() {
  const wchar_t* programData = ::_wgetenv(L"ProgramData");
  if (programData == nullptr || *programData == L'\0') return "";
  return Utf8FromWide(std::wstring(programData) + kTrustUnderProgramData);
}

FolderList KeyFilesIn(const std::string& folder, std::vector<std::string>& paths, std::string& reason) {
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW((WideFromUtf8(folder) + kKeyPattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FolderList::kAbsent;
    reason = "system error " + std::to_string(error);
    return FolderList::kUnreadable;
  }
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) paths.push_back(folder + "\\" + Utf8FromWide(found.cFileName));
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  std::sort(paths.begin(), paths.end());
  return FolderList::kListed;
}
