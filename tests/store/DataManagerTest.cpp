// Database access layer: statement texts, stored values (checked with the sqlite3 program), query results, and the
// exact error messages of the connection and of queries.
#include "store/DataManager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include "support/TempHome.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;

// VEXO_HOME pointed at a fresh temporary folder with a Data folder in it.
class DataManagerTest : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directory(home_.Dir() / "Data"); }

    std::string DbPath(const std::string& name = "users") const { return (home_.Dir() / "Data" / name).string(); }

    // Output of the sqlite3 program running `sql` on the database: one line per row, columns joined by "|".
    std::string Independent(const std::string& sql, const std::string& name = "users") const {
        return test::RunSqlite(DbPath(name), sql);
    }

    // A keyword table as the store uses it.
    static void CreateKeyTable(TDataManager& data) {
        ASSERT_TRUE(
            data.Exec("create table tbl_key(ID integer primary key, KeyStr text, listcount numeric, lastpage numeric, "
                      "adddate NUMERIC)"));
    }

    // The message of the ESQLiteException that `action` raises; empty when it raises none.
    template <typename F>
    static std::string ErrorOf(F action) {
        try {
            action();
        } catch (const ESQLiteException& e) {
            return e.what();
        }
        return {};
    }

    test::TTempHome home_;
};

TEST_F(DataManagerTest, OpensTheFileUnderDataAndFailsWithoutTheFolder) {
    EXPECT_EQ(TDataManager::DatabasePath("users"), home_.Dir().string() + "/Data/users");
    {
        TDataManager data("users");
        EXPECT_TRUE(fs::exists(DbPath()));
        EXPECT_TRUE(data.Sql.empty());
    }
    fs::remove_all(home_.Dir() / "Data");
    EXPECT_EQ(ErrorOf([] { TDataManager data("users"); }),
              "Failed to open database \"" + home_.Dir().string() + "/Data/users\" : unable to open database file");
    EXPECT_FALSE(fs::exists(home_.Dir() / "Data"));
}

TEST_F(DataManagerTest, BuildsStatementsFromTheFields) {
    TDataManager data("users");
    CreateKeyTable(data);
    data.Reset();
    data.AddText("KeyStr", "广州 电子公司");
    data.AddText("  ", "blank names add nothing");
    data.AddInteger(" listcount ", 0);
    data.AddFloat("\t", 1.5);
    data.SetWhere("ID=9");  // not used by an insert
    EXPECT_TRUE(data.InsertInto("tbl_key"));
    EXPECT_EQ(data.Sql, "insert into tbl_key(KeyStr,listcount) values ('广州 电子公司',0)");
    EXPECT_EQ(data.Database().LastInsertRowId(), 1);

    data.Reset();
    data.SetWhere(" ID=1 ");
    data.SetWhere("   ");  // a blank condition keeps the current one
    data.AddInteger("listcount", -2147483647 - 1);
    data.AddText("KeyStr", "a'b");
    data.AddFloat("adddate", 1.7e9);
    EXPECT_TRUE(data.UpdateTable("tbl_key"));
    EXPECT_EQ(data.Sql, "update tbl_key set listcount=-2147483648,KeyStr='a''b',adddate=1700000000 where ID=1");
    EXPECT_EQ(Independent("select ID, KeyStr, listcount, typeof(adddate), adddate from tbl_key"),
              "1|a'b|-2147483648|integer|1700000000\n");

    // Reset drops the fields, the condition and Sql.
    data.Reset();
    EXPECT_EQ(data.Sql, "");
    data.AddText("KeyStr", "x");
    EXPECT_TRUE(data.UpdateTable("tbl_key"));
    EXPECT_EQ(data.Sql, "update tbl_key set KeyStr='x'");

    // An empty table name runs nothing.
    data.SetWhere("ID=1");
    EXPECT_FALSE(data.InsertInto(""));
    EXPECT_FALSE(data.UpdateTable(""));
    EXPECT_FALSE(data.DeleteFrom(""));
    EXPECT_EQ(data.Sql, "update tbl_key set KeyStr='x'");

    EXPECT_TRUE(data.DeleteFrom("tbl_key"));
    EXPECT_EQ(data.Sql, "delete from tbl_key where ID=1");
    EXPECT_EQ(Independent("select count(*) from tbl_key"), "0\n");
    data.Reset();
    EXPECT_TRUE(data.DeleteFrom("tbl_key"));
    EXPECT_EQ(data.Sql, "delete from tbl_key");
}

TEST_F(DataManagerTest, TextValuesAreStoredUnchanged) {
    TDataManager data("users");
    ASSERT_TRUE(data.Exec("create table t(id integer primary key, a text, b text)"));
    const std::string tricky = " O'Neil's \"shop\"\r\nline two; -- '' ";
    data.Reset();
    data.AddText("a", tricky);
    data.AddText("b", "");
    ASSERT_TRUE(data.InsertInto("t"));
    EXPECT_EQ(Independent("select hex(a), quote(b) from t"),
              Independent("select hex(" + SqlLiteral(tricky) + "), quote('')"));

    data.Reset();
    data.Sql = "select a, b from t where a='" + QuoteSql(tricky) + "'";
    auto table = data.Query();
    ASSERT_EQ(table->RowCount(), 1);
    EXPECT_EQ(table->ColumnText(0), tricky);
    EXPECT_EQ(table->ColumnText(1), "");
    EXPECT_FALSE(table->ColumnIsNull(1));
}

TEST_F(DataManagerTest, FailedStatementsReturnFalseAndKeepTheirText) {
    TDataManager data("users");
    CreateKeyTable(data);
    EXPECT_FALSE(data.Exec("this is not sql"));
    EXPECT_EQ(data.Sql, "this is not sql");
    EXPECT_FALSE(data.Exec(""));

    // A constraint violation changes nothing.
    ASSERT_TRUE(data.Exec("insert into tbl_key(ID, KeyStr) values (1, 'a')"));
    EXPECT_FALSE(data.Exec("insert into tbl_key(ID, KeyStr) values (1, 'b')"));
    EXPECT_EQ(Independent("select KeyStr from tbl_key"), "a\n");

    // Without fields the statement is invalid, so the write fails rather than doing something else.
    data.Reset();
    EXPECT_FALSE(data.InsertInto("tbl_key"));
    EXPECT_EQ(data.Sql, "insert into tbl_key() values ()");

    // Rows returned by a statement do not make it fail.
    EXPECT_TRUE(data.Exec("select * from tbl_key"));
}

TEST_F(DataManagerTest, AddFloatWritesShortestPlainNumbers) {
    TDataManager data("users");
    ASSERT_TRUE(data.Exec("create table f(v)"));
    const double values[] = {1.7e9, -3.0, -0.0, 0.1, 1e15, 1e20, 123456789012345.0, 1e-7, 0.1 + 0.2, 5e-324};
    const char* expected[] = {"1700000000",          "-3",    "0", "0.1", "1e+15", "1e+20", "123456789012345", "1e-07",
                              "0.30000000000000004", "5e-324"};
    for (std::size_t i = 0; i < std::size(values); ++i) {
        data.Reset();
        data.AddFloat("v", values[i]);
        EXPECT_TRUE(data.InsertInto("f"));
        EXPECT_EQ(data.Sql, "insert into f(v) values (" + std::string(expected[i]) + ")");
    }
    // Every form reads back as the same double.
    data.Reset();
    data.Sql = "select v from f order by rowid";
    auto table = data.Query();
    ASSERT_EQ(table->RowCount(), static_cast<int>(std::size(values)));
    for (double value : values) {
        EXPECT_EQ(table->ColumnText(0), FormatFloat(value));
        EXPECT_EQ(std::strtod(table->ColumnText(0).c_str(), nullptr), value);
        table->NextRow();
    }

    // Values without a decimal form still make valid statements.
    const double inf = std::numeric_limits<double>::infinity();
    for (double value : {std::nan(""), inf, -inf}) {
        data.Reset();
        data.AddFloat("v", value);
        EXPECT_TRUE(data.InsertInto("f")) << data.Sql;
    }
    EXPECT_EQ(Independent("select quote(v) from f where rowid > 10 order by rowid"), "NULL\nInf\n-Inf\n");
}

TEST_F(DataManagerTest, QueryReadsEveryValueAsItsText) {
    TDataManager data("users");
    ASSERT_TRUE(data.Exec(
        "create table tbl_list(ListID integer primary key, ComName text, keyid numeric, price REAL, raw BLOB, "
        "big INTEGER NOT NULL default 0, x)"));
    ASSERT_TRUE(data.Exec("insert into tbl_list values (1, '甲', 3, 2.5, x'00ff41', 9223372036854775807, 5)"));
    // Values of another storage class than their column's keep their own text rather than turning into 0.
    ASSERT_TRUE(data.Exec("insert into tbl_list values (2, NULL, 'abc', 3, 'x''y', 2.75, 0.1)"));
    ASSERT_TRUE(data.Exec("insert into tbl_list values (3, 4, 1e300, NULL, 7, 'text', x'414243')"));

    data.Reset();
    data.Sql = "select * from tbl_list order by ListID";
    auto table = data.Query();
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->RowCount(), 3);
    EXPECT_EQ(table->ColumnNames(),
              (std::vector<std::string>{"ListID", "ComName", "keyid", "price", "raw", "big", "x"}));
    EXPECT_EQ(table->ColumnIndex("listid"), 0);
    EXPECT_EQ(table->ColumnIndex("COMNAME"), 1);
    EXPECT_EQ(table->ColumnIndex("KeyID"), 2);
    EXPECT_EQ(table->ColumnText(4), std::string("\0\xff"
                                                "A",
                                                3));
    std::string rows;
    for (; !table->AtEnd(); table->NextRow()) {
        for (int c = 0; c < table->ColumnCount(); ++c)
            rows += (table->ColumnIsNull(c) ? std::string("<null>") : table->ColumnText(c)) + ";";
        rows += "\n";
    }
    // NUMERIC 3 reads "3", not "3.0"; so does REAL 3.0.
    EXPECT_EQ(rows, "1;甲;3;2.5;" +
                        std::string("\0\xff"
                                    "A",
                                    3) +
                        ";9223372036854775807;5;\n"
                        "2;<null>;abc;3;x'y;2.75;0.1;\n"
                        "3;4;1e+300;<null>;7;text;ABC;\n");

    EXPECT_EQ(ErrorOf([&] { table->ColumnText(0); }), "Table is at End of File");
    EXPECT_EQ(ErrorOf([&] { table->NextRow(); }), "Table is at End of File");
    EXPECT_EQ(ErrorOf([&] { table->ColumnIndex("nope"); }), "Field not found in dataset: nope");
}

TEST_F(DataManagerTest, ColumnsAreTypedByTheirDeclarationOrFirstValue) {
    TDataManager data("users");
    ASSERT_TRUE(
        data.Exec("create table t(a integer, b int, c BOOLEAN, d numeric, e REAL, f double precision, g float, h blob, "
                  "i text, j varchar(20), k datetime, l NUMERIC(10,2), m BIGINT)"));
    ASSERT_TRUE(data.Exec("insert into t values (1,1,1,1,1,1,1,1,1,1,1,1,1)"));
    data.Sql = "select *, 1.5, 'x', x'00', NULL, max(a) as id from t";
    auto table = data.Query();
    ASSERT_EQ(table->RowCount(), 1);
    using T = TSQLiteColumnType;
    const T expected[] = {T::Integer, T::Integer, T::Integer, T::Float, T::Float, T::Float, T::Float, T::Blob, T::Text,
                          T::Text, T::Text, T::Float, T::Integer,
                          // expressions: by the storage class of the first value
                          T::Float, T::Text, T::Blob, T::Text, T::Integer};
    ASSERT_EQ(table->ColumnCount(), static_cast<int>(std::size(expected)));
    for (int i = 0; i < table->ColumnCount(); ++i)
        EXPECT_EQ(table->ColumnType(i), expected[i]) << table->ColumnNames()[i];
}

TEST_F(DataManagerTest, EmptyResultHasNoColumnsAndEmptySqlNoTable) {
    TDataManager data("users");
    CreateKeyTable(data);
    data.Reset();
    EXPECT_EQ(data.Query(), nullptr);

    data.Sql = "select ID from tbl_key where KeyStr='none'";
    auto table = data.Query();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->RowCount(), 0);
    EXPECT_EQ(table->ColumnCount(), 0);
    EXPECT_TRUE(table->AtEnd());
    EXPECT_EQ(ErrorOf([&] { table->ColumnIndex("ID"); }), "Field ID Not found. Empty dataset");
    EXPECT_EQ(ErrorOf([&] { table->ColumnText(0); }), "Table is at End of File");
}

TEST_F(DataManagerTest, QueryErrorsCarryCodeAndStatement) {
    TDataManager data("users");
    CreateKeyTable(data);

    data.Sql = "selec * from tbl_key";
    EXPECT_EQ(ErrorOf([&] { data.Query(); }),
              "Error executing SQL.\rError [1]: SQL error or missing database.\r\"selec * from tbl_key\": "
              "near \"selec\": syntax error");
    data.Sql = "select * from tbl_list where keyid=";
    EXPECT_EQ(ErrorOf([&] { data.Query(); }),
              "Error executing SQL.\rError [1]: SQL error or missing database.\r\"select * from tbl_list where "
              "keyid=\": incomplete input");
    // Blank text prepares to no statement; SQLite holds no error, so there is no tail.
    data.Sql = "  ";
    EXPECT_EQ(ErrorOf([&] { data.Query(); }), "Could not prepare SQL statement");
    data.Sql = "-- only a comment";
    EXPECT_EQ(ErrorOf([&] { data.Query(); }), "Could not prepare SQL statement");
    // A failure while stepping.
    data.Sql = "select abs(-9223372036854775808)";
    EXPECT_EQ(ErrorOf([&] { data.Query(); }),
              "Could not retrieve data.\rError [1]: SQL error or missing database.\r\"select "
              "abs(-9223372036854775808)\": integer overflow");
}

TEST_F(DataManagerTest, StatementErrorsCarryCodeAndStatement) {
    TDataManager data("users");
    TSQLiteDatabase& db = data.Database();
    db.RunStatement("create table u(id integer primary key, name text not null unique)");
    db.RunStatement("insert into u(name) values ('a')");
    EXPECT_EQ(ErrorOf([&] { db.RunStatement("insert into u(name) values ('a')"); }),
              "Error executing SQL statement.\rError [19]: Abort due to contraint violation.\r\"insert into "
              "u(name) values ('a')\": UNIQUE constraint failed: u.name");
    EXPECT_EQ(ErrorOf([&] { db.RunStatement("insert into v values (1)"); }),
              "Error executing SQL.\rError [1]: SQL error or missing database.\r\"insert into v values (1)\": "
              "no such table: v");
    EXPECT_EQ(ErrorOf([&] { db.RunStatement(""); }), "Could not prepare SQL statement");
}

TEST_F(DataManagerTest, ReadOnlyDatabaseRefusesWrites) {
    {
        TDataManager writer("users");
        CreateKeyTable(writer);
    }
    TDataManager reader("users", true);
    EXPECT_FALSE(reader.Exec("insert into tbl_key(KeyStr) values ('k')"));
    EXPECT_EQ(ErrorOf([&] { reader.Database().RunStatement("insert into tbl_key(KeyStr) values ('k')"); }),
              "Error executing SQL statement.\rError [8]: Attempt to write a readonly database.\r\"insert into "
              "tbl_key(KeyStr) values ('k')\": attempt to write a readonly database");
    reader.Sql = "select count(*) as n from tbl_key";
    EXPECT_EQ(reader.Query()->ColumnText(0), "0");

    // Read-only never creates a file.
    EXPECT_EQ(ErrorOf([] { TDataManager missing("other", true); }),
              "Failed to open database \"" + DbPath("other") + "\" : unable to open database file");
    EXPECT_FALSE(fs::exists(DbPath("other")));
}

TEST_F(DataManagerTest, FileThatIsNotADatabase) {
    {
        std::ofstream file(DbPath());
        for (int i = 0; i < 100; ++i)
            file << "This is a plain text file and no database at all.\n";
    }
    TDataManager data("users");  // SQLite reads the file only when it is first used
    data.Sql = "select sql from sqlite_master";
    EXPECT_EQ(ErrorOf([&] { data.Query(); }),
              "Error executing SQL.\rError [26]: File opened that is not a database file.\r\"select sql from "
              "sqlite_master\": file is not a database");
    EXPECT_FALSE(data.Exec("create table t(a)"));
}

TEST_F(DataManagerTest, LockedDatabaseFailsAtOnce) {
    TDataManager data("users");
    CreateKeyTable(data);
    auto count = [&data] {
        data.Reset();
        data.Sql = "select count(*) from tbl_key";
        return data.Query()->ColumnText(0);
    };
    ASSERT_EQ(count(), "0");  // the schema is now loaded on this connection

    // A second connection holds a write transaction: writes fail at once with "locked".
    TSQLiteDatabase other(DbPath());
    other.RunStatement("begin immediate");
    other.RunStatement("insert into tbl_key(KeyStr) values ('pending')");
    EXPECT_FALSE(data.Exec("insert into tbl_key(KeyStr) values ('k')"));
    EXPECT_EQ(ErrorOf([&] { data.Database().RunStatement("insert into tbl_key(KeyStr) values ('k')"); }),
              "Error executing SQL statement.\rError [5]: The database file is locked.\r\"insert into "
              "tbl_key(KeyStr) values ('k')\": database is locked");
    // Readers still see the committed state.
    EXPECT_EQ(count(), "0");

    // An exclusive lock also stops readers; a busy query step has the bare message.
    other.RunStatement("commit");
    other.RunStatement("begin exclusive");
    EXPECT_EQ(ErrorOf(count), "Could not prepare SQL statement");
    // A connection that still has to read the schema already fails while preparing.
    TSQLiteDatabase fresh(DbPath());
    EXPECT_EQ(ErrorOf([&] { fresh.RunQuery("select count(*) from tbl_key"); }),
              "Error executing SQL.\rError [5]: The database file is locked.\r\"select count(*) from tbl_key\": "
              "database is locked");
    other.RunStatement("rollback");
    EXPECT_EQ(count(), "1");
}

TEST(SQLiteErrorCodeTextTest, KnownAndUnknownCodes) {
    EXPECT_EQ(SQLiteErrorCodeText(0), "Successful result");
    EXPECT_EQ(SQLiteErrorCodeText(101), "sqlite3_step() has finished executing");
    EXPECT_EQ(SQLiteErrorCodeText(27), "Unknown SQLite Error Code \"27\"");
    EXPECT_EQ(SQLiteErrorCodeText(-1), "Unknown SQLite Error Code \"-1\"");
}

}  // namespace
}  // namespace vexo
