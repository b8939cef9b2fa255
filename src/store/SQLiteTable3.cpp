// SQLite connection, statement execution, and the in-memory result table.
#include "store/SQLiteTable3.h"

#include <array>
#include <charconv>
#include <cmath>
#include <new>
#include <string_view>

#include "text/CaseFold.h"

namespace vexo {

namespace {

constexpr std::string_view kOpenFailed = "Failed to open database \"";
constexpr std::string_view kOpenUnknownError = "unknown error";
constexpr std::string_view kPrepareFailed = "Error executing SQL";
constexpr std::string_view kNoStatement = "Could not prepare SQL statement";
constexpr std::string_view kStatementFailed = "Error executing SQL statement";
// A busy query step is reported with the no-statement text and without the error tail.
constexpr std::string_view kQueryBusy = "Could not prepare SQL statement";
constexpr std::string_view kQueryFailed = "Could not retrieve data";
constexpr std::string_view kEndOfFile = "Table is at End of File";
constexpr std::string_view kNoColumns = " Not found. Empty dataset";
constexpr std::string_view kNoSuchColumn = "Field not found in dataset: ";
constexpr std::string_view kBadColumnIndex = "Column index out of range: ";

// Magnitude from which an integral double is no longer written as a plain integer (more than 15 digits).
constexpr double kPlainIntegerLimit = 1e15;

constexpr std::array<std::string_view, 27> kCodeTexts{
    "Successful result",
    "SQL error or missing database",
    "An internal logic error in SQLite",
    "Access permission denied",
    "Callback routine requested an abort",
    "The database file is locked",
    "A table in the database is locked",
    "A malloc() failed",
    "Attempt to write a readonly database",
    "Operation terminated by sqlite3_interrupt()",
    "Some kind of disk I/O error occurred",
    "The database disk image is malformed",
    "(Internal Only) Table or record not found",
    "Insertion failed because database is full",
    "Unable to open the database file",
    "Database lock protocol error",
    "Database is empty",
    "The database schema changed",
    "Too much data for one row of a table",
    "Abort due to contraint violation",
    "Data type mismatch",
    "Library used incorrectly",
    "Uses OS features not supported on host",
    "Authorization denied",
    "Auxiliary database format error",
    "2nd parameter to sqlite3_bind out of range",
    "File opened that is not a database file",
};

std::string IntegerText(long long value) {
    std::array<char, 24> buffer;
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

struct TStatementFinalizer {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using TStatementPtr = std::unique_ptr<sqlite3_stmt, TStatementFinalizer>;

std::string Upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return result;
}

TSQLiteColumnType ColumnTypeFromStorage(int storageClass) {
    switch (storageClass) {
        case SQLITE_INTEGER:
            return TSQLiteColumnType::Integer;
        case SQLITE_FLOAT:
            return TSQLiteColumnType::Float;
        case SQLITE_BLOB:
            return TSQLiteColumnType::Blob;
        default:
            return TSQLiteColumnType::Text;
    }
}

std::string BytesOf(const void* data, int size) {
    if (size <= 0)
        return {};
    // SQLite returns no pointer for a non-empty value only when it ran out of memory converting it.
    if (data == nullptr)
        throw std::bad_alloc();
    return std::string(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

// The value in its own storage class's text form. For a value of the class its column is typed by, this is the
// form of that column type (an Integer column's integers in decimal, a Float column's reals in shortest form). A
// value of another class (text in a NUMERIC column, a real in an INTEGER one) keeps its own text rather than being
// coerced to 0 or truncated. Integers in a Float column stay exact instead of passing through a double.
std::optional<std::string> ValueText(sqlite3_stmt* stmt, int column) {
    switch (sqlite3_column_type(stmt, column)) {
        case SQLITE_NULL:
            return std::nullopt;
        case SQLITE_INTEGER:
            return IntegerText(sqlite3_column_int64(stmt, column));
        case SQLITE_FLOAT:
            return FormatFloat(sqlite3_column_double(stmt, column));
        case SQLITE_BLOB: {
            const void* data = sqlite3_column_blob(stmt, column);
            return BytesOf(data, sqlite3_column_bytes(stmt, column));
        }
        default: {
            const unsigned char* text = sqlite3_column_text(stmt, column);
            return BytesOf(text, sqlite3_column_bytes(stmt, column));
        }
    }
}

}  // namespace

TSQLiteColumnType ColumnTypeFromDeclaration(const std::string& declaredType) {
    const std::string name = Upper(declaredType.substr(0, declaredType.find('(')));
    auto has = [&name](std::string_view part) { return name.find(part) != std::string::npos; };
    if (has("INT") || has("BOOLEAN"))
        return TSQLiteColumnType::Integer;
    if (has("BLOB"))
        return TSQLiteColumnType::Blob;
    if (has("REAL") || has("FLOA") || has("DOUB") || has("NUMERIC") || has("DECIMAL"))
        return TSQLiteColumnType::Float;
    return TSQLiteColumnType::Text;
}

std::string FormatFloat(double value) {
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value < 0 ? "-Inf" : "Inf";
    if (std::trunc(value) == value && std::fabs(value) < kPlainIntegerLimit)
        return IntegerText(static_cast<long long>(value));
    std::array<char, 32> buffer;
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

std::string SQLiteErrorCodeText(int code) {
    if (code >= 0 && code < static_cast<int>(kCodeTexts.size()))
        return std::string(kCodeTexts[static_cast<std::size_t>(code)]);
    if (code == SQLITE_ROW)
        return "sqlite3_step() has another row ready";
    if (code == SQLITE_DONE)
        return "sqlite3_step() has finished executing";
    return "Unknown SQLite Error Code \"" + IntegerText(code) + "\"";
}

// --- TSQLiteTable ---

void TSQLiteTable::NextRow() {
    if (AtEnd())
        throw ESQLiteException(std::string(kEndOfFile));
    ++cursor_;
}

int TSQLiteTable::ColumnIndex(const std::string& name) const {
    if (names_.empty())
        throw ESQLiteException("Field " + name + std::string(kNoColumns));
    const int index = FindColumn(name);
    if (index < 0)
        throw ESQLiteException(std::string(kNoSuchColumn) + name);
    return index;
}

int TSQLiteTable::FindColumn(const std::string& name) const {
    for (std::size_t i = 0; i < names_.size(); ++i) {
        if (SameIgnoringCase(names_[i], name))
            return static_cast<int>(i);
    }
    return -1;
}

const std::optional<std::string>& TSQLiteTable::Cell(int index) const {
    if (AtEnd())
        throw ESQLiteException(std::string(kEndOfFile));
    if (index < 0 || index >= ColumnCount())
        throw ESQLiteException(std::string(kBadColumnIndex) + IntegerText(index));
    return rows_[cursor_][static_cast<std::size_t>(index)];
}

std::string TSQLiteTable::ColumnText(int index) const {
    const auto& cell = Cell(index);
    return cell ? *cell : std::string();
}

const std::string& TSQLiteTable::ColumnRef(int index) const {
    static const std::string empty;
    if (index < 0)
        return empty;
    const auto& cell = Cell(index);
    return cell ? *cell : empty;
}

bool TSQLiteTable::ColumnIsNull(int index) const {
    return !Cell(index).has_value();
}

TSQLiteColumnType TSQLiteTable::ColumnType(int index) const {
    if (index < 0 || index >= ColumnCount())
        throw ESQLiteException(std::string(kBadColumnIndex) + IntegerText(index));
    return types_[static_cast<std::size_t>(index)];
}

// --- TSQLiteDatabase ---

TSQLiteDatabase::TSQLiteDatabase(const std::string& utf8Path, bool readOnly) {
    const int access = readOnly ? SQLITE_OPEN_READONLY : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(utf8Path.c_str(), &db, access | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string reason = db != nullptr ? sqlite3_errmsg(db) : std::string(kOpenUnknownError);
        sqlite3_close_v2(db);
        throw ESQLiteException(std::string(kOpenFailed) + utf8Path + "\" : " + reason);
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    db_ = db;
}

TSQLiteDatabase::~TSQLiteDatabase() {
    sqlite3_close_v2(db_);
}

long long TSQLiteDatabase::LastInsertRowId() const {
    return sqlite3_last_insert_rowid(db_);
}

std::string TSQLiteDatabase::WithErrorTail(const std::string& message, const std::string& sql) const {
    // Extended result codes are never enabled, so this is the primary code; the mask keeps it so if a caller
    // enables them through Handle().
    const int code = sqlite3_errcode(db_) & 0xff;
    const char* errorText = sqlite3_errmsg(db_);
    if (code == SQLITE_OK || errorText == nullptr || *errorText == '\0')
        return message;
    return message + ".\rError [" + IntegerText(code) + "]: " + SQLiteErrorCodeText(code) + ".\r\"" + sql +
           "\": " + errorText;
}

sqlite3_stmt* TSQLiteDatabase::Prepare(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        throw ESQLiteException(WithErrorTail(std::string(kPrepareFailed), sql));
    }
    if (stmt == nullptr)
        throw ESQLiteException(WithErrorTail(std::string(kNoStatement), sql));
    return stmt;
}

void TSQLiteDatabase::RunStatement(const std::string& sql) {
    TStatementPtr stmt(Prepare(sql));
    // Rows a statement happens to return are stepped over: the statement has run once it reports done.
    int rc;
    do {
        rc = sqlite3_step(stmt.get());
    } while (rc == SQLITE_ROW);
    if (rc != SQLITE_DONE) {
        sqlite3_reset(stmt.get());
        throw ESQLiteException(WithErrorTail(std::string(kStatementFailed), sql));
    }
}

std::unique_ptr<TSQLiteTable> TSQLiteDatabase::RunQuery(const std::string& sql) {
    TStatementPtr stmt(Prepare(sql));
    auto table = std::make_unique<TSQLiteTable>();
    const int columns = sqlite3_column_count(stmt.get());
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        if (table->rows_.empty()) {
            for (int i = 0; i < columns; ++i) {
                const char* name = sqlite3_column_name(stmt.get(), i);
                const char* declared = sqlite3_column_decltype(stmt.get(), i);
                table->names_.emplace_back(name != nullptr ? name : "");
                table->types_.push_back(declared != nullptr
                                            ? ColumnTypeFromDeclaration(declared)
                                            : ColumnTypeFromStorage(sqlite3_column_type(stmt.get(), i)));
            }
        }
        TSQLiteTable::TRow row;
        row.reserve(static_cast<std::size_t>(columns));
        for (int i = 0; i < columns; ++i)
            row.push_back(ValueText(stmt.get(), i));
        table->rows_.push_back(std::move(row));
    }
    if (rc == SQLITE_BUSY)
        throw ESQLiteException(std::string(kQueryBusy));
    if (rc != SQLITE_DONE) {
        sqlite3_reset(stmt.get());
        throw ESQLiteException(WithErrorTail(std::string(kQueryFailed), sql));
    }
    return table;
}

}  // namespace vexo
