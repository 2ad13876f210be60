#include "sim/sim_board.h"

int main(int argc, char** argv) { return RunSimMain(argc, argv); }
