// A thin layer over libpq: a connection with its prepared statements, the
// rows a statement returns, transactions that roll back unless committed,
// and a pool of connections shared by the store's callers. Every failure
// throws StoreError with the server's own text. Values travel as text.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tools/gateway/Store.h"

struct pg_conn;
struct pg_result;

namespace vesk::gateway::pg {

// A parameter: its text, or null.
using Param = std::optional<std::string>;

inline Param P(std::int64_t v) { return std::to_string(v); }
inline Param P(int v) { return std::to_string(v); }
inline Param P(bool v) { return std::string(v ? "1" : "0"); }
Param P(const std::string& v);  // a zero byte becomes U+FFFD: PostgreSQL's text holds none
inline Param P(const char* v) { return P(std::string(v)); }
template <class T>
Param P(const std::optional<T>& v) {
  return v ? P(*v) : Param();
}

class Result {
 public:
  explicit Result(pg_result* result) : result_(result) {}
  Result(Result&& other) noexcept : result_(other.result_) { other.result_ = nullptr; }
  Result& operator=(Result&&) = delete;
  Result(const Result&) = delete;
  ~Result();

  int Rows() const;
  // Rows a command changed (UPDATE, DELETE, INSERT).
  int Changed() const;
  bool IsNull(int row, int column) const;
  std::string Text(int row, int column) const;
  std::int64_t Int(int row, int column) const;
  std::optional<std::int64_t> OptInt(int row, int column) const;

 private:
  pg_result* result_;
};

class Connection {
 public:
  // Throws StoreError when the server cannot be reached.
  explicit Connection(const std::string& conninfo);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Runs a statement with $1, $2 ... parameters, prepared once per
  // connection.
  Result Exec(const std::string& sql, const std::vector<Param>& params = {});
  // Runs SQL text of one or more statements without parameters.
  void Run(const std::string& sql);
  bool Healthy() const;
  // Connects again (after the server went away); throws StoreError.
  void Reconnect();

 private:
  [[noreturn]] void Fail(const std::string& what, pg_result* result);

  std::string conninfo_;
  pg_conn* conn_ = nullptr;
  std::map<std::string, std::string> prepared_;  // SQL -> statement name
};

// BEGIN ... COMMIT; rolled back when left without Commit.
class Transaction {
 public:
  explicit Transaction(Connection& c);
  ~Transaction();
  void Commit();

 private:
  Connection& c_;
  bool done_ = false;
};

// Up to `size` connections, opened as they are needed; a caller waits for a
// free one. A connection found broken is reconnected before it is handed out.
class Pool {
 public:
  Pool(std::string conninfo, int size);

  class Lease {
   public:
    Lease(Pool& pool, std::unique_ptr<Connection> c) : pool_(pool), c_(std::move(c)) {}
    Lease(Lease&& other) noexcept : pool_(other.pool_), c_(std::move(other.c_)) {}
    ~Lease() {
      if (c_) pool_.Give(std::move(c_));
    }
    Connection& operator*() { return *c_; }
    Connection* operator->() { return c_.get(); }

   private:
    Pool& pool_;
    std::unique_ptr<Connection> c_;
  };

  Lease Take();

 private:
  void Give(std::unique_ptr<Connection> c);

  std::string conninfo_;
  int size_;
  int open_ = 0;
  std::mutex mutex_;
  std::condition_variable freed_;
  std::vector<std::unique_ptr<Connection>> idle_;
};

}  // namespace vesk::gateway::pg
