// TDataManager: the one connection to the program's database and a builder for the INSERT, UPDATE and DELETE
// statements the store writes. Values are written into the SQL text as literals (text quoted with quotes doubled,
// numbers unchanged); each statement runs and commits on its own.
//
// Locking: the builder state (fields, condition, Sql) is shared by every thread that uses the object. The methods
// do not lock; a caller holds Lock() around its whole sequence, from Reset to the end of the statement or until
// Query has returned its table. The table belongs to the caller and is read without the lock.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "store/SQLiteTable3.h"

namespace vexo {

// One named value of the statement being built.
struct TDataField {
    enum : std::uint8_t { kText = 0, kNumber = 1 };
    std::uint8_t Kind = kText;  // kText: written as an SQL string literal; kNumber: written unchanged
    std::string Name;           // trimmed column name
    std::string Value;          // the value already formatted as text
};

// The text with every single quote doubled, for use between the quotes of an SQL string literal.
std::string QuoteSql(const std::string& text);

// The text as an SQL string literal: QuoteSql between single quotes.
std::string SqlLiteral(const std::string& text);

class TDataManager {
  public:
    // Opens DatabasePath(databaseName), creating the file when missing (the Data folder must exist).
    // Raises ESQLiteException when it cannot be opened.
    explicit TDataManager(const std::string& databaseName, bool readOnly = false);
    TDataManager(const TDataManager&) = delete;
    TDataManager& operator=(const TDataManager&) = delete;

    // AppDir() + "Data/" + databaseName.
    static std::string DatabasePath(const std::string& databaseName);

    // Drops the fields and empties the condition and Sql; every statement or query starts with it.
    void Reset();
    // Each appends a field under the trimmed name; a blank name adds nothing. Text values are kept unchanged.
    void AddText(const std::string& name, const std::string& value);
    void AddInteger(const std::string& name, std::int32_t value);
    // The value as FormatFloat writes it (integral time stamps stay plain integers). NaN is written as NULL and the
    // infinities as 1e999 / -1e999, which SQLite reads back as infinities, so no value can break the statement.
    void AddFloat(const std::string& name, double value);
    // The trimmed text becomes the condition of the next UPDATE or DELETE; a blank text keeps the current one.
    void SetWhere(const std::string& condition);

    // "insert into T(a,b) values (x,y)". False when the table name is empty (nothing runs) or Exec failed.
    bool InsertInto(const std::string& table);
    // "update T set a=x,b='y'" plus " where " + condition when one is set. False as InsertInto.
    bool UpdateTable(const std::string& table);
    // "delete from T" plus " where " + condition when one is set. False as InsertInto.
    bool DeleteFrom(const std::string& table);
    // Stores the text in Sql and runs it as one statement. True when it ran to completion; false on any error,
    // which never leaves this function.
    bool Exec(const std::string& sql);
    // Runs Sql as a query and returns its complete result; nullptr when Sql is empty. Raises ESQLiteException.
    std::unique_ptr<TSQLiteTable> Query();

    // The last statement run through Exec, or the query text the caller set before Query.
    std::string Sql;

    // The store lock (see the file comment).
    std::mutex& Lock() { return lock_; }
    TSQLiteDatabase& Database() { return *connection_; }

  private:
    void AddField(std::uint8_t kind, const std::string& name, std::string value);

    std::unique_ptr<TSQLiteDatabase> connection_;
    std::vector<TDataField> fields_;
    std::string condition_;
    std::mutex lock_;
};

}  // namespace vexo
