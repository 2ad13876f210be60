#include <spawn.h>
#include <sys/wait.h>

#include "station_ui/station_app.h"

extern char** environ;

namespace station_ui {

// xdg-open hands the page to the desktop's browser and returns; its child is
// reaped here so that it does not stay behind as a zombie.
bool OpenInBrowser(const std::string& url) {
  char program[] = "xdg-open";
  std::string target = url;
  char* const argv[] = {program, target.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace station_ui
