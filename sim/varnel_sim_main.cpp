#include <string>
#include <vector>

#include "sim/sim_board.h"
#include "sim/sim_platform.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments = sim::Utf8Arguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& a : arguments) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  const sim::Utf8ConsoleOutput console;
  return RunSimMain(static_cast<int>(arguments.size()), pointers.data());
}
