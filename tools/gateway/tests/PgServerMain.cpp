// The throw-away PostgreSQL server as a program, for ctest's fixture:
//   gateway_pg_server start FOLDER   (exit 0 when it runs; skipped, exit 0
//                                     with a notice, where PostgreSQL is missing)
//   gateway_pg_server stop FOLDER
#include <filesystem>
#include <iostream>
#include <string>

#include "tools/gateway/tests/PgServer.h"

using vesk::gateway::testing::PgServer;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: gateway_pg_server start|stop FOLDER\n";
    return 2;
  }
  const std::string command = argv[1], folder = argv[2];
  if (command == "start") {
    const std::string missing = PgServer::Missing();
    if (!missing.empty()) {
      std::cout << "PostgreSQL tests will be skipped: " << missing << std::endl;
      return 0;
    }
    std::string why;
    if (!PgServer::Start(folder, why)) {
      std::cerr << "cannot start PostgreSQL in " << folder << ": " << why << std::endl;
      return 1;
    }
    std::cout << "PostgreSQL runs in " << folder << std::endl;
    return 0;
  }
  if (command == "stop") {
    PgServer::Stop(folder);
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
  }
  std::cerr << "usage: gateway_pg_server start|stop FOLDER\n";
  return 2;
}
