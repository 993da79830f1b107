#pragma once
// What the archive's files share of SQLite: a prepared statement finalized on every path, and a
// statement run for its effect alone. Internal to src/archive.
#include <sqlite3.h>

#include <concepts>
#include <cstdint>
#include <string>

namespace kalvo::archive_sql {

class Statement {
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return stmt_ != nullptr; }
    Statement& Bind(int index, std::int64_t value) {
        sqlite3_bind_int64(stmt_, index, value);
        return *this;
    }
    // Only a double binds as a real: integers of every width stay integers.
    template <typename Real>
        requires std::same_as<Real, double>
    Statement& Bind(int index, Real value) {
        sqlite3_bind_double(stmt_, index, value);
        return *this;
    }
    Statement& Bind(int index, const std::string& value) {
        sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW or SQLITE_DONE, else an error code.
    int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
    void Reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
    double Real(int column) const { return sqlite3_column_double(stmt_, column); }
    std::string Text(int column) const {
        const unsigned char* text = sqlite3_column_text(stmt_, column);
        return text ? reinterpret_cast<const char*>(text) : "";
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

inline bool Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

}  // namespace kalvo::archive_sql
