// veskgsm-sim: a simulated GSM modem on a pseudo-terminal, until Ctrl-C.
#include <iostream>
#include <string>
#include <vector>

#include "tools/simulator/SimulatorCommand.h"

int main(int argc, char** argv) {
  return vesk::sim::RunSimulatorCommand("veskgsm-sim", std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                        std::cerr);
}
