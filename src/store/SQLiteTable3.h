// Thin layer over the SQLite C interface: a connection that runs single statements and queries, and the in-memory
// table a query returns. Plain statements only: nothing is bound, cached or wrapped in a transaction. Every
// connection waits up to kBusyTimeoutMs for a database another program has locked (a reader's transaction, the
// other program's write) before a statement fails as busy.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vexo {

// How long a statement waits for a lock another connection holds.
inline constexpr int kBusyTimeoutMs = 5000;

// Every failure of the connection, of a statement or of a query, and misuse of a result table.
class ESQLiteException : public std::runtime_error {
  public:
    using runtime_error::runtime_error;
};

// How a result column's values are typed, decided on the first row from the declared type (or, for a column
// without one, from the storage class of its first value).
enum class TSQLiteColumnType { Integer, Float, Text, Blob };

// Kind of a declared column type, ignoring letter case: a name containing "INT" (INTEGER, INT, BIGINT) or BOOLEAN is
// Integer; one containing REAL, FLOA or DOUB, and NUMERIC or DECIMAL, are Float; BLOB is Blob; anything else is
// Text. A size suffix such as "(10,2)" is ignored.
TSQLiteColumnType ColumnTypeFromDeclaration(const std::string& declaredType);

// Shortest decimal text that reads back as the same double, with "." as separator. Integral values below 1e15 in
// magnitude (up to 15 digits) are plain integers, so 1.7e9 gives "1700000000" rather than "1.7e+09".
// Infinities give "Inf" / "-Inf" and NaN gives "NaN" (SQLite's own spellings).
std::string FormatFloat(double value);

// Text of SQLite's primary result codes; "Unknown SQLite Error Code \"n\"" for any other code.
std::string SQLiteErrorCodeText(int code);

// The complete result of one query, held in memory. Values are kept as text: integers in plain decimal, reals as
// FormatFloat gives them, text as stored, blobs as their bytes, NULL as no value. Each value is held by its own
// storage class, so one that differs from its column's type (text in a NUMERIC column, a real in an INTEGER one)
// reads as its own text instead of being coerced. The cursor starts on the first row. A query that returned no rows
// has no columns either.
class TSQLiteTable {
  public:
    TSQLiteTable() = default;

    int RowCount() const { return static_cast<int>(rows_.size()); }
    int ColumnCount() const { return static_cast<int>(names_.size()); }
    // True once the cursor is past the last row; at once for an empty result.
    bool AtEnd() const { return cursor_ >= rows_.size(); }
    // Moves the cursor to the next row; raises "Table is at End of File" when it is already past the last one.
    void NextRow();
    // Position of the column with that name, ignoring letter case; raises when there is none.
    int ColumnIndex(const std::string& name) const;
    // Position of the column with that name, ignoring letter case; -1 when there is none.
    int FindColumn(const std::string& name) const;
    // ColumnText, or "" for the position -1 of a missing column.
    std::string OptionalColumnText(int index) const { return index < 0 ? std::string() : ColumnText(index); }
    // Text of the column in the cursor's row; a NULL gives "". Raises past the last row or for a bad index.
    std::string ColumnText(int index) const;
    // ColumnText without the copy: valid until the table moves on or goes; a missing column (-1) gives "".
    const std::string& ColumnRef(int index) const;
    bool ColumnIsNull(int index) const;
    const std::vector<std::string>& ColumnNames() const { return names_; }
    // The kind the column's values were typed by (see TSQLiteColumnType).
    TSQLiteColumnType ColumnType(int index) const;

  private:
    friend class TSQLiteDatabase;
    using TRow = std::vector<std::optional<std::string>>;

    const std::optional<std::string>& Cell(int index) const;

    std::vector<std::string> names_;
    std::vector<TSQLiteColumnType> types_;
    std::vector<TRow> rows_;
    std::size_t cursor_ = 0;
};

// One open connection. Opened with SQLITE_OPEN_FULLMUTEX: two threads use it, one sequence at a time under the
// owner's lock, and the library's own serialisation keeps it safe even if they did not.
class TSQLiteDatabase {
  public:
    // Opens the file at the UTF-8 path, creating it when missing (read-only: SQLITE_OPEN_READONLY, no create),
    // with the busy time-out set. Raises "Failed to open database \"path\" : reason".
    explicit TSQLiteDatabase(const std::string& utf8Path, bool readOnly = false);
    ~TSQLiteDatabase();
    TSQLiteDatabase(const TSQLiteDatabase&) = delete;
    TSQLiteDatabase& operator=(const TSQLiteDatabase&) = delete;

    // Prepares the first statement of the text, steps it until it has finished and finalizes it. Raises on failure.
    void RunStatement(const std::string& sql);
    // Prepares the first statement of the text and reads every row into a new table. Raises on failure.
    std::unique_ptr<TSQLiteTable> RunQuery(const std::string& sql);
    long long LastInsertRowId() const;
    sqlite3* Handle() const { return db_; }

  private:
    // Prepares `sql`; raises when that fails or yields no statement.
    sqlite3_stmt* Prepare(const std::string& sql);
    // The message with the error tail appended when the connection holds an error code and message.
    std::string WithErrorTail(const std::string& message, const std::string& sql) const;

    sqlite3* db_ = nullptr;
};

}  // namespace vexo
