// A minimal AT console: opens a modem and runs the commands typed on
// standard input, printing each answer and everything the modem sends by
// itself. Usage: example_at_console <port> [speed]
//   example_at_console /dev/ttyUSB0 115200
#include <iostream>
#include <string>

#include "component/VeskGSM.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: " << argv[0] << " <port> [speed]\n";
    return 2;
  }
  vesk::TVeskGSM gsm;
  gsm.SetCustomPortName(argv[1]);
  if (argc > 2) gsm.SetBaudRate(gsm.IntToBaudRate(std::stoi(argv[2])));
  if (gsm.GetBaudRate() == vesk::brCustom && argc > 2) gsm.SetCustomBaudRate(std::stoi(argv[2]));
  gsm.OnReceive = [&gsm](vesk::TObject*, const vesk::AnsiString& text) {
    std::cout << "<< " << gsm.ReplaceControlChars(text) << std::endl;
  };
  gsm.OnDisconnect = [](vesk::TObject*, vesk::TCommPort) { std::cout << "-- port closed" << std::endl; };
  try {
    if (!gsm.Open()) {
      std::cerr << argv[1] << " is not present\n";
      return 1;
    }
  } catch (const vesk::EVeskGSMException& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  std::string line;
  while (std::cout << "> " << std::flush, std::getline(std::cin, line)) {
    if (line.empty()) continue;
    vesk::TStringList answer;
    int n = gsm.ExecuteATCommand(line, &answer, 15, '\r');
    if (n == 0) std::cout << "(no answer within 15 s)\n";
    for (int i = 0; i < n; ++i) std::cout << vesk::WideToUtf8(answer[i]) << "\n";
  }
  gsm.Close();
}
