#include "tools/gateway/tests/PgServer.h"

#include <arpa/inet.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

namespace vesk::gateway::testing {

namespace {

namespace fs = std::filesystem;

// The newest installed server's binaries, or empty.
std::string BinDir() {
  std::string best;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
    const fs::path bin = entry.path() / "bin";
    if (fs::exists(bin / "initdb") && fs::exists(bin / "pg_ctl")) {
      const std::string s = bin.string();
      if (best.empty() || s > best) best = s;
    }
  }
  return best;
}

bool AsRoot() { return ::geteuid() == 0; }

// Runs a program to its end (as `postgres` when we are root); its output
// goes to `log`. The exit status, or -1.
int Run(std::vector<std::string> argv, const std::string& log) {
  if (AsRoot()) argv.insert(argv.begin(), {"/usr/sbin/runuser", "-u", "postgres", "--"});
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    FILE* out = std::fopen(log.c_str(), "a");
    if (out) {
      ::dup2(fileno(out), 1);
      ::dup2(fileno(out), 2);
    }
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Tail(const std::string& path) {
  const std::string text = ReadFile(path);
  return text.size() > 1500 ? text.substr(text.size() - 1500) : text;
}

int PortOf(const std::string& folder) { return std::atoi(ReadFile(folder + "/port").c_str()); }

std::string Conninfo(const std::string& folder, const std::string& database) {
  return "host=" + folder + " port=" + std::to_string(PortOf(folder)) + " user=veskgsm dbname=" + database +
         " connect_timeout=5";
}

bool StartServer(const std::string& folder, std::string& why) {
  const std::string bin = BinDir();
  const std::string log = folder + "/server.log";
  const int port = PortOf(folder);
  const bool durable = fs::exists(folder + "/durable");
  const std::string options = "-p " + std::to_string(port) + " -k " + folder +
                              " -c listen_addresses=127.0.0.1 -c max_connections=300 -c shared_buffers=64MB" +
                              (durable ? "" : " -c fsync=off -c synchronous_commit=off -c full_page_writes=off");
  if (Run({bin + "/pg_ctl", "-D", folder + "/data", "-o", options, "-l", log, "-w", "-t", "60", "start"},
          folder + "/pg_ctl.log") != 0) {
    why = "pg_ctl start failed: " + Tail(log) + Tail(folder + "/pg_ctl.log");
    return false;
  }
  return true;
}

struct OwnServer {
  std::string folder;
  ~OwnServer() {
    if (!folder.empty()) {
      PgServer::Stop(folder);
      std::error_code ec;
      fs::remove_all(folder, ec);
    }
  }
};

}  // namespace

std::string PgServer::Missing() {
  if (BinDir().empty())
    return "no PostgreSQL server is installed (/usr/lib/postgresql/*/bin/initdb); make test installs the "
           "postgresql package";
  if (AsRoot() && !::getpwnam("postgres")) return "running as root, and there is no postgres user to run the server";
  return "";
}

bool PgServer::Start(const std::string& folder, std::string& why, bool durable) {
  why = Missing();
  if (!why.empty()) return false;
  // A server an earlier run left behind in this folder is stopped first.
  Stop(folder);
  std::error_code ec;
  fs::remove_all(folder, ec);
  fs::create_directories(folder, ec);
  if (ec) {
    why = "cannot make " + folder + ": " + ec.message();
    return false;
  }
  if (AsRoot()) {
    const passwd* pw = ::getpwnam("postgres");
    if (::chown(folder.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
      why = "cannot give " + folder + " to the postgres user";
      return false;
    }
  }
  std::ofstream(folder + "/port") << FreePort();
  if (durable) std::ofstream(folder + "/durable") << "fsync and synchronous_commit on\n";
  const std::string bin = BinDir();
  if (Run({bin + "/initdb", "-D", folder + "/data", "-A", "trust", "-U", "veskgsm", "-E", "UTF8", "--locale=C",
           "--no-sync"},
          folder + "/initdb.log") != 0) {
    why = "initdb failed: " + Tail(folder + "/initdb.log");
    return false;
  }
  return StartServer(folder, why);
}

void PgServer::Stop(const std::string& folder) {
  if (!fs::exists(folder + "/data/postmaster.pid")) return;
  Run({BinDir() + "/pg_ctl", "-D", folder + "/data", "-m", "immediate", "-w", "stop"}, folder + "/pg_ctl.log");
}

bool PgServer::Kill(const std::string& folder) {
  return Run({BinDir() + "/pg_ctl", "-D", folder + "/data", "-m", "immediate", "-w", "stop"}, folder + "/pg_ctl.log") ==
         0;
}

bool PgServer::Restart(const std::string& folder, std::string& why) { return StartServer(folder, why); }

bool PgServer::Running(const std::string& folder) {
  if (!fs::exists(folder + "/port") || !fs::exists(folder + "/data/postmaster.pid")) return false;
  PGconn* c = PQconnectdb(Conninfo(folder, "postgres").c_str());
  const bool ok = c && PQstatus(c) == CONNECTION_OK;
  PQfinish(c);
  return ok;
}

std::string PgServer::Folder(std::string& why) {
  static std::mutex lock;
  static OwnServer own;
  static std::string folder, failure;
  std::lock_guard<std::mutex> guard(lock);
  if (!folder.empty()) return folder;
  if (!failure.empty()) {
    why = failure;
    return "";
  }
  if (const char* shared = std::getenv("VESKGSM_TEST_PG"); shared && *shared && Running(shared)) {
    folder = shared;
    return folder;
  }
  const std::string mine = (fs::temp_directory_path() / ("veskgsm-pg-" + std::to_string(::getpid()))).string();
  if (!Start(mine, failure)) {
    why = failure;
    return "";
  }
  own.folder = folder = mine;
  return folder;
}

std::string PgServer::CreateDatabase(const std::string& folder, std::string& why) {
  static std::atomic<int> counter{0};
  const std::string name = "t" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
  const std::string result = Query(Conninfo(folder, "postgres"), "CREATE DATABASE " + name);
  if (result.rfind("error:", 0) == 0) {
    why = result;
    return "";
  }
  return Conninfo(folder, name);
}

std::string PgServer::Url(const std::string& folder, const std::string& database) {
  return "postgresql://veskgsm@/" + database + "?host=" + folder + "&port=" + std::to_string(PortOf(folder));
}

void PgServer::DropDatabase(const std::string& folder, const std::string& conninfo) {
  const std::size_t at = conninfo.find("dbname=");
  if (at == std::string::npos) return;
  std::string name = conninfo.substr(at + 7);
  name = name.substr(0, name.find(' '));
  Query(Conninfo(folder, "postgres"), "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
}

std::string PgServer::Query(const std::string& conninfo, const std::string& sql) {
  PGconn* c = PQconnectdb(conninfo.c_str());
  std::string out;
  if (!c || PQstatus(c) != CONNECTION_OK) {
    out = std::string("error: ") + (c ? PQerrorMessage(c) : "no connection");
    PQfinish(c);
    return out;
  }
  PQsetNoticeProcessor(
      c, [](void*, const char*) {}, nullptr);
  PGresult* r = PQexec(c, sql.c_str());
  const ExecStatusType status = PQresultStatus(r);
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    out = std::string("error: ") + PQresultErrorMessage(r);
  } else {
    for (int i = 0; i < PQntuples(r); ++i)
      for (int j = 0; j < PQnfields(r); ++j)
        out += std::string(PQgetisnull(r, i, j) ? "NULL" : PQgetvalue(r, i, j)) + (j + 1 < PQnfields(r) ? "|" : "\n");
  }
  PQclear(r);
  PQfinish(c);
  return out;
}

}  // namespace vesk::gateway::testing
