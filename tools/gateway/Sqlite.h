// A thin layer over SQLite's C interface: a connection, prepared
// statements kept for reuse, and transactions that roll back unless
// committed. Every failure throws StoreError with SQLite's own text.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "tools/gateway/Store.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vesk::gateway::sql {

class Statement {
 public:
  Statement(sqlite3* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  // Parameters by position from 1.
  Statement& Bind(int index, std::int64_t value);
  Statement& Bind(int index, int value) { return Bind(index, static_cast<std::int64_t>(value)); }
  Statement& Bind(int index, bool value) { return Bind(index, static_cast<std::int64_t>(value ? 1 : 0)); }
  Statement& Bind(int index, const std::string& value);
  Statement& Bind(int index, const char* value) { return Bind(index, std::string(value)); }
  Statement& BindNull(int index);
  template <class T>
  Statement& Bind(int index, const std::optional<T>& value) {
    return value ? Bind(index, *value) : BindNull(index);
  }

  // True while there is a row.
  bool Step();
  // Runs a statement that returns no rows.
  void Run();
  // Back to the start, bindings cleared.
  void Reset();

  bool IsNull(int column) const;
  std::int64_t Int(int column) const;
  std::string Text(int column) const;
  std::optional<std::int64_t> OptInt(int column) const;

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_;
};

class Database {
 public:
  // Opens (flags as sqlite3_open_v2 takes them). Throws StoreError.
  Database(const std::string& path, int flags);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void Exec(const std::string& sql);
  // A statement kept for reuse, reset and ready to bind.
  Statement& Prepare(const std::string& sql);
  std::int64_t LastInsertId() const;
  int Changes() const;
  sqlite3* Handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
  std::map<std::string, std::unique_ptr<Statement>> statements_;
};

// BEGIN IMMEDIATE ... COMMIT; rolled back when left without Commit.
class Transaction {
 public:
  explicit Transaction(Database& db);
  ~Transaction();
  void Commit();

 private:
  Database& db_;
  bool done_ = false;
};

[[noreturn]] void Fail(sqlite3* db, const std::string& what);

}  // namespace vesk::gateway::sql
