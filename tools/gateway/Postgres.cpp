#include "tools/gateway/Postgres.h"

#include <libpq-fe.h>

#include <cstdlib>

namespace vesk::gateway::pg {

Param P(const std::string& v) {
  if (v.find('\0') == std::string::npos) return v;
  std::string clean;
  for (char c : v) {
    if (c == '\0')
      clean += "\xEF\xBF\xBD";
    else
      clean += c;
  }
  return clean;
}

Result::~Result() {
  if (result_) PQclear(result_);
}

int Result::Rows() const { return PQntuples(result_); }

int Result::Changed() const { return std::atoi(PQcmdTuples(result_)); }

bool Result::IsNull(int row, int column) const { return PQgetisnull(result_, row, column) != 0; }

std::string Result::Text(int row, int column) const {
  if (IsNull(row, column)) return {};
  return std::string(PQgetvalue(result_, row, column), static_cast<std::size_t>(PQgetlength(result_, row, column)));
}

std::int64_t Result::Int(int row, int column) const {
  if (IsNull(row, column)) return 0;
  return std::strtoll(PQgetvalue(result_, row, column), nullptr, 10);
}

std::optional<std::int64_t> Result::OptInt(int row, int column) const {
  if (IsNull(row, column)) return std::nullopt;
  return Int(row, column);
}

Connection::Connection(const std::string& conninfo) : conninfo_(conninfo) { Reconnect(); }

Connection::~Connection() {
  if (conn_) PQfinish(conn_);
}

void Connection::Reconnect() {
  if (conn_) PQfinish(conn_);
  prepared_.clear();
  conn_ = PQconnectdb(conninfo_.c_str());
  if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
    std::string why = conn_ ? PQerrorMessage(conn_) : "out of memory";
    while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
    if (conn_) PQfinish(conn_);
    conn_ = nullptr;
    throw StoreError("cannot reach the PostgreSQL server: " + why);
  }
  // Quiet NOTICEs (CREATE ... IF NOT EXISTS and the like).
  PQsetNoticeProcessor(
      conn_, [](void*, const char*) {}, nullptr);
  Run("SET client_encoding = 'UTF8'; SET TIME ZONE 'UTC'");
}

bool Connection::Healthy() const { return conn_ && PQstatus(conn_) == CONNECTION_OK; }

void Connection::Fail(const std::string& what, pg_result* result) {
  std::string why = result ? PQresultErrorMessage(result) : "";
  if (why.empty() && conn_) why = PQerrorMessage(conn_);
  while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
  if (result) PQclear(result);
  throw StoreError(what + ": " + why);
}

Result Connection::Exec(const std::string& sql, const std::vector<Param>& params) {
  if (!conn_) Reconnect();
  auto it = prepared_.find(sql);
  if (it == prepared_.end()) {
    const std::string name = "s" + std::to_string(prepared_.size() + 1);
    pg_result* r = PQprepare(conn_, name.c_str(), sql.c_str(), 0, nullptr);
    if (!r || PQresultStatus(r) != PGRES_COMMAND_OK) Fail("preparing \"" + sql.substr(0, 60) + "\"", r);
    PQclear(r);
    it = prepared_.emplace(sql, name).first;
  }
  std::vector<const char*> values;
  values.reserve(params.size());
  for (const Param& p : params) values.push_back(p ? p->c_str() : nullptr);
  pg_result* r =
      PQexecPrepared(conn_, it->second.c_str(), static_cast<int>(params.size()), values.data(), nullptr, nullptr, 0);
  const ExecStatusType status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Fail("running \"" + sql.substr(0, 60) + "\"", r);
  return Result(r);
}

void Connection::Run(const std::string& sql) {
  if (!conn_) Reconnect();
  pg_result* r = PQexec(conn_, sql.c_str());
  const ExecStatusType status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Fail("running \"" + sql.substr(0, 60) + "\"", r);
  PQclear(r);
}

Transaction::Transaction(Connection& c) : c_(c) { c_.Run("BEGIN"); }

Transaction::~Transaction() {
  if (done_) return;
  try {
    c_.Run("ROLLBACK");
  } catch (...) {
    // The connection may be gone: the server rolls back by itself.
  }
}

void Transaction::Commit() {
  c_.Run("COMMIT");
  done_ = true;
}

Pool::Pool(std::string conninfo, int size) : conninfo_(std::move(conninfo)), size_(size < 1 ? 1 : size) {}

Pool::Lease Pool::Take() {
  std::unique_ptr<Connection> c;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    freed_.wait(lock, [this] { return !idle_.empty() || open_ < size_; });
    if (!idle_.empty()) {
      c = std::move(idle_.back());
      idle_.pop_back();
    } else {
      ++open_;
    }
  }
  try {
    if (!c)
      c = std::make_unique<Connection>(conninfo_);
    else if (!c->Healthy())
      c->Reconnect();
  } catch (...) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      --open_;
    }
    freed_.notify_one();
    throw;
  }
  return Lease(*this, std::move(c));
}

void Pool::Give(std::unique_ptr<Connection> c) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_back(std::move(c));
  }
  freed_.notify_one();
}

}  // namespace vesk::gateway::pg
