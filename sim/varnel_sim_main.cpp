#include <string>
#include <vector>

#include "sim/sim_board.h"
#include "os/console.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments = Utf8Arguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& a : arguments) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  const Utf8ConsoleOutput console;
  return RunSimMain(static_cast<int>(arguments.size()), pointers.data());
}
