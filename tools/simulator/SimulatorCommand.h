// The simulator as a command: serve a modem on a path until interrupted.
// `veskgsm-sim` is a thin main() over RunSimulatorCommand, and the project's
// command-line tool can offer the same as a sub-command.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "tools/simulator/SimTypes.h"

namespace vesk::sim {

struct SimulatorOptions {
  ModemConfig config;
  bool trace = false;    // print the transcript live on the error stream
  bool console = false;  // read event commands from standard input
  bool help = false;
  int failSends = 0;
  std::string failResult = "+CMS ERROR: 321";
};

// Parses the arguments (program name left out). On a mistake returns false
// and says why in *error.
bool ParseSimulatorOptions(const std::vector<std::string>& args, SimulatorOptions& options, std::string* error);

std::string SimulatorUsage(const std::string& program);

class ModemSimulator;

// One console line ("sms +15550123 hello", "register home", "help" ...) on
// `sim`, its reply on `out`; `quit` is set by "quit". What --console reads
// from standard input goes here line by line.
void RunConsoleLine(ModemSimulator& sim, const std::string& line, std::ostream& out, bool& quit);

// Runs until SIGINT or SIGTERM (or "quit" on the console). Returns the exit
// status: 0, or 2 for bad arguments, 1 when the simulator cannot start.
int RunSimulatorCommand(const std::string& program, const std::vector<std::string>& args, std::ostream& out,
                        std::ostream& err);

}  // namespace vesk::sim
