#include "tools/gateway/Sqlite.h"

#include <sqlite3.h>

namespace vesk::gateway::sql {

void Fail(sqlite3* db, const std::string& what) {
  std::string text = what;
  if (db) {
    text += ": ";
    text += sqlite3_errmsg(db);
  }
  throw StoreError(text);
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::Bind(int index, std::int64_t value) {
  if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) Fail(db_, "binding a value");
  return *this;
}

Statement& Statement::Bind(int index, const std::string& value) {
  if (sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT) != SQLITE_OK)
    Fail(db_, "binding a text");
  return *this;
}

Statement& Statement::BindNull(int index) {
  if (sqlite3_bind_null(stmt_, index) != SQLITE_OK) Fail(db_, "binding a null");
  return *this;
}

bool Statement::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  const std::string sql = sqlite3_sql(stmt_) ? sqlite3_sql(stmt_) : "";
  sqlite3_reset(stmt_);
  Fail(db_, "running \"" + sql.substr(0, 60) + "\"");
}

void Statement::Run() {
  while (Step()) {
  }
  Reset();
}

void Statement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

bool Statement::IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

std::int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string Statement::Text(int column) const {
  const auto* text = sqlite3_column_text(stmt_, column);
  if (!text) return {};
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

std::optional<std::int64_t> Statement::OptInt(int column) const {
  if (IsNull(column)) return std::nullopt;
  return Int(column);
}

Database::Database(const std::string& path, int flags) {
  const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string text = "cannot open " + path + ": ";
    text += db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw StoreError(text);
  }
  sqlite3_extended_result_codes(db_, 1);
}

Database::~Database() {
  statements_.clear();
  sqlite3_close(db_);
}

void Database::Exec(const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string text = error ? error : sqlite3_errmsg(db_);
    sqlite3_free(error);
    throw StoreError("running \"" + sql.substr(0, 60) + "\": " + text);
  }
}

Statement& Database::Prepare(const std::string& sql) {
  auto it = statements_.find(sql);
  if (it != statements_.end()) {
    it->second->Reset();
    return *it->second;
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK)
    Fail(db_, "preparing \"" + sql.substr(0, 60) + "\"");
  auto& slot = statements_[sql];
  slot = std::make_unique<Statement>(db_, stmt);
  return *slot;
}

std::int64_t Database::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }

int Database::Changes() const { return sqlite3_changes(db_); }

Transaction::Transaction(Database& db) : db_(db) { db_.Exec("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
  if (done_) return;
  try {
    db_.Exec("ROLLBACK");
  } catch (...) {
    // A failed commit may have ended the transaction already.
  }
}

void Transaction::Commit() {
  db_.Exec("COMMIT");
  done_ = true;
}

}  // namespace vesk::gateway::sql
