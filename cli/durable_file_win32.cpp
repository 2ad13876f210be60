#include <windows.h>

#include <string>

#include "cli/durable_file.h"
#include "common/system_text.h"

namespace {

struct Handle {
  explicit Handle(HANDLE value) : h(value) {}
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE h;
};

bool Fail(std::string& error, const std::string& what) {
  error = what + ": error " + std::to_string(GetLastError());
  return false;
}

}  // namespace

// MOVEFILE_WRITE_THROUGH returns only once the rename is on the disk, which is
// what the directory's fsync gives elsewhere.
bool ReplaceFileDurably(const std::string& path, const std::string& content, std::string& error) {
  const std::string temporary = path + ".tmp";
  {
    Handle file(CreateFileW(WideFromUtf8(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.h == INVALID_HANDLE_VALUE) return Fail(error, "cannot create " + temporary);
    DWORD written = 0;
    if (!WriteFile(file.h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) ||
        written != content.size()) {
      return Fail(error, "cannot write " + temporary);
    }
    if (!FlushFileBuffers(file.h)) return Fail(error, "cannot flush " + temporary);
  }
  if (!MoveFileExW(WideFromUtf8(temporary).c_str(), WideFromUtf8(path).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return Fail(error, "cannot rename " + temporary);
  }
  return true;
}
