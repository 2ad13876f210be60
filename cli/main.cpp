#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "os/console.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = Utf8Arguments(argc, argv);
  std::vector<const char*> pointers;
  for (const std::string& a : arguments) pointers.push_back(a.c_str());
  pointers.push_back(nullptr);
  const Utf8ConsoleOutput console;
  return RunCli(static_cast<int>(arguments.size()), pointers.data(), {stdout, stderr});
}
