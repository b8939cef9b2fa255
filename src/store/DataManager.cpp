// TDataManager: statement builder and query runner over the program's one database connection.
#include "store/DataManager.h"

#include <array>
#include <charconv>
#include <cmath>

#include "text/Global.h"

namespace vexo {

namespace {

constexpr std::string_view kDataFolder = "Data/";
// SQLite reads a literal beyond the double range as an infinity, and stores NaN as NULL anyway.
constexpr std::string_view kNaNLiteral = "NULL";
constexpr std::string_view kInfinityLiteral = "1e999";
constexpr std::string_view kNegativeInfinityLiteral = "-1e999";

}  // namespace

std::string QuoteSql(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        result += c;
        if (c == '\'')
            result += '\'';
    }
    return result;
}

std::string SqlLiteral(const std::string& text) {
    return "'" + QuoteSql(text) + "'";
}

namespace {

// A number field as it is, a text field as a string literal.
std::string ValueSql(const TDataField& field) {
    return field.Kind == TDataField::kText ? SqlLiteral(field.Value) : field.Value;
}

}  // namespace

TDataManager::TDataManager(const std::string& databaseName, bool readOnly)
    : connection_(std::make_unique<TSQLiteDatabase>(DatabasePath(databaseName), readOnly)) {}

std::string TDataManager::DatabasePath(const std::string& databaseName) {
    return AppDir() + std::string(kDataFolder) + databaseName;
}

void TDataManager::Reset() {
    fields_.clear();
    condition_.clear();
    Sql.clear();
}

void TDataManager::AddField(std::uint8_t kind, const std::string& name, std::string value) {
    const std::string_view trimmed = Trim(name);
    if (trimmed.empty())
        return;
    fields_.push_back(TDataField{kind, std::string(trimmed), std::move(value)});
}

void TDataManager::AddText(const std::string& name, const std::string& value) {
    AddField(TDataField::kText, name, value);
}

void TDataManager::AddInteger(const std::string& name, std::int32_t value) {
    std::array<char, 16> buffer;
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    AddField(TDataField::kNumber, name, std::string(buffer.data(), result.ptr));
}

void TDataManager::AddFloat(const std::string& name, double value) {
    std::string text;
    if (std::isnan(value)) {
        text = kNaNLiteral;
    } else if (std::isinf(value)) {
        text = value < 0 ? kNegativeInfinityLiteral : kInfinityLiteral;
    } else {
        text = FormatFloat(value);
    }
    AddField(TDataField::kNumber, name, std::move(text));
}

void TDataManager::SetWhere(const std::string& condition) {
    const std::string_view trimmed = Trim(condition);
    if (!trimmed.empty())
        condition_ = trimmed;
}

bool TDataManager::InsertInto(const std::string& table) {
    if (table.empty())
        return false;
    std::string names;
    std::string values;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (i > 0) {
            names += ',';
            values += ',';
        }
        names += fields_[i].Name;
        values += ValueSql(fields_[i]);
    }
    return Exec("insert into " + table + "(" + names + ") values (" + values + ")");
}

bool TDataManager::UpdateTable(const std::string& table) {
    if (table.empty())
        return false;
    std::string items;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (i > 0)
            items += ',';
        items += fields_[i].Name + "=" + ValueSql(fields_[i]);
    }
    std::string sql = "update " + table + " set " + items;
    if (!condition_.empty())
        sql += " where " + condition_;
    return Exec(sql);
}

bool TDataManager::DeleteFrom(const std::string& table) {
    if (table.empty())
        return false;
    std::string sql = "delete from " + table;
    if (!condition_.empty())
        sql += " where " + condition_;
    return Exec(sql);
}

bool TDataManager::Exec(const std::string& sql) {
    try {
        Sql = sql;
        connection_->RunStatement(sql);
        return true;
    } catch (...) {
        // A failed write is reported by the result alone; the statement changed nothing and Sql still holds it.
        return false;
    }
}

std::unique_ptr<TSQLiteTable> TDataManager::Query() {
    if (Sql.empty())
        return nullptr;
    return connection_->RunQuery(Sql);
}

}  // namespace vexo
