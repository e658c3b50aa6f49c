// A throw-away PostgreSQL server for the gateway's tests: initdb on a
// folder of the test's, pg_ctl on a free port and a socket in that folder,
// fsync off (it is thrown away), and a fresh database per test.
//
// Under ctest one server serves every test: the fixture `gateway.pg_start`
// starts it in the folder VESKGSM_TEST_PG names and `gateway.pg_stop`
// stops it. A test binary run by hand starts its own when that folder has
// no server. Where the binaries are missing the tests that need a server
// are skipped, saying so; `make test` installs them (the `postgresql`
// package). As root, the server runs as the `postgres` user, since
// PostgreSQL refuses to run as root.
#pragma once

#include <string>

namespace vesk::gateway::testing {

class PgServer {
 public:
  // Why no server can be had here; empty when one can.
  static std::string Missing();

  // Starts a server in `folder` (made if need be); false with `why`.
  // `durable`: commits wait for the disk as a production server's do
  // (benchmarks); otherwise fsync and synchronous_commit are off.
  static bool Start(const std::string& folder, std::string& why, bool durable = false);
  static void Stop(const std::string& folder);
  // Whether a server started by Start runs in `folder`.
  static bool Running(const std::string& folder);

  // The server for this process's tests: the fixture's, or one of its own
  // (stopped when the process ends). Empty with `why` when none can be had.
  static std::string Folder(std::string& why);

  // A new, empty database on the server in `folder`; returns its
  // connection string (key=value form, as libpq takes it).
  static std::string CreateDatabase(const std::string& folder, std::string& why);
  // The same database as a postgresql:// URL, for a configuration file.
  static std::string Url(const std::string& folder, const std::string& database);
  static void DropDatabase(const std::string& folder, const std::string& conninfo);
  // Runs SQL on a database; the rows as "a|b" lines, or "error: ...".
  static std::string Query(const std::string& conninfo, const std::string& sql);
  // Stops the server at once (its clients lose their connections) or starts
  // it again on the same folder and port.
  static bool Kill(const std::string& folder);
  static bool Restart(const std::string& folder, std::string& why);
};

}  // namespace vesk::gateway::testing
