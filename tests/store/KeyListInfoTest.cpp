// The keyword and company store on real database files: schema set-up and upgrade, the exact statements it runs,
// which companies it stores, the idle-page rule, deletion, and damaged, read-only, locked or shared databases.
// The sqlite3 shell serves as an independent reader and writer of the files.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "store/KeyListInfo.h"
#include "support/TempHome.h"

namespace vexo {
namespace {

using test::RunSqlite;

constexpr const char* kKeyColumns = "ID,KeyStr,listcount,lastpage,sglastpage,s360lastpage,adddate\n";
constexpr const char* kListColumns = "ListID,ComName,Addr,weburl,EMail,Tel,mob,qq,source,ispay,stat,keyid,renzheng\n";

TComPanyInfo Company(const std::string& name, const std::string& mobile) {
    TComPanyInfo company;
    company.SetComName(name);
    if (!mobile.empty())
        company.AddMobile(mobile);
    return company;
}

// Records the text of every statement the connection prepares and runs, from any thread.
class TStatementTrace {
  public:
    explicit TStatementTrace(TKeyListInfo& store) : db_(store.DataManager().Database().Handle()) {
        sqlite3_trace_v2(db_, SQLITE_TRACE_STMT, &TStatementTrace::OnStatement, this);
    }
    ~TStatementTrace() { sqlite3_trace_v2(db_, 0, nullptr, nullptr); }

    std::vector<std::string> Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(statements_, {});
    }

  private:
    static int OnStatement(unsigned, void* self, void*, void* text) {
        auto* trace = static_cast<TStatementTrace*>(self);
        std::lock_guard lock(trace->mutex_);
        trace->statements_.emplace_back(static_cast<const char*>(text));
        return 0;
    }

    sqlite3* db_;
    std::mutex mutex_;
    std::vector<std::string> statements_;
};

class KeyListInfoTest : public ::testing::Test {
  protected:
    TKeyListInfo& Open(TStoreAccess access = TStoreAccess::ReadWrite) {
        store_.reset();  // one writer at a time, also in one process
        store_ = std::make_unique<TKeyListInfo>(access);
        store_->OnKeyAdded = [this](TKeyListInfo&, TKeyData& entry) { added_.push_back(entry.KeyStr); };
        store_->OnCompanyStored = [this](TKeyListInfo& store, const std::string& keyword,
                                         const std::shared_ptr<TComPanyInfo>& record) {
            // Raised with the store lock released: the handler may use the store again.
            std::unique_lock lock(store.DataManager().Lock(), std::try_to_lock);
            EXPECT_TRUE(lock.owns_lock());
            stored_.push_back(keyword + "/" + record->GetComName() + "/" + record->ListID);
        };
        return *store_;
    }

    std::string Sql(const std::string& sql) { return RunSqlite(home_.DatabasePath(), sql); }

    void WriteDataFile(const std::string& bytes) {
        std::filesystem::create_directories(home_.Dir() / "Data");
        std::ofstream(home_.DatabasePath(), std::ios::binary) << bytes;
    }

    test::TTempHome home_;
    std::unique_ptr<TKeyListInfo> store_;
    std::vector<std::string> added_;
    std::vector<std::string> stored_;
};

TEST_F(KeyListInfoTest, NewHomeGetsBothTablesWithEveryColumnAndTheNameIndex) {
    Open();
    EXPECT_EQ(Sql("select group_concat(name) from pragma_table_info('tbl_key')"), kKeyColumns);
    EXPECT_EQ(Sql("select group_concat(name) from pragma_table_info('tbl_list')"), kListColumns);
    EXPECT_EQ(Sql("select group_concat(name) from pragma_index_info("
                  "(select name from sqlite_master where type='index' and tbl_name='tbl_list'))"),
              "ComName\n");
    // The duplicate test is answered from the index, not by reading the table.
    EXPECT_NE(Sql("explain query plan select listid from tbl_list where ComName='x'")
                  .find(" INDEX idx_tbl_list_comname (ComName=?)"),
              std::string::npos);
}

TEST_F(KeyListInfoTest, UpgradeAddsTheLaterColumnsOnceAndKeepsTheRows) {
    std::filesystem::create_directories(home_.Dir() / "Data");
    Sql("create table tbl_key(ID integer primary key, KeyStr text, listcount numeric, lastpage numeric);"
        "create table tbl_list(ListID integer primary key, ComName text, Addr text, weburl text, EMail text, "
        "Tel text, mob text, stat numeric, keyid numeric);"
        "insert into tbl_key values (4, 'old', 2, 6);");

    for (int start = 0; start < 2; ++start) {
        Open();
        store_.reset();
        EXPECT_EQ(Sql("select group_concat(name) from pragma_table_info('tbl_key')"),
                  "ID,KeyStr,listcount,lastpage,sglastpage,s360lastpage,adddate\n");
        EXPECT_EQ(Sql("select group_concat(name) from pragma_table_info('tbl_list')"),
                  "ListID,ComName,Addr,weburl,EMail,Tel,mob,stat,keyid,source,ispay,renzheng,qq\n");
    }
    // The columns an old row never had read as 0.
    TKeyListInfo& store = Open();
    store.LoadKeys();
    const TKeyData* entry = store.FindKey("old");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->ID, "4");
    EXPECT_EQ(entry->ListCount, 2);
    EXPECT_EQ(entry->LastPage, 6);
    EXPECT_EQ(entry->SgLastPage, 0);
    EXPECT_EQ(entry->AddDate, 0);
}

TEST_F(KeyListInfoTest, StatementsAreExactAndQuotesInTextsAreDoubled) {
    TKeyListInfo& store = Open();
    TStatementTrace trace(store);
    const std::string keyword = "King's 电子";
    TKeyData* entry = store.AddKey(keyword, true);
    ASSERT_NE(entry, nullptr);
    const std::string created = std::to_string(entry->AddDate);

    TComPanyInfo company = Company("O'Hare 贸易", "13800000000");
    company.Addr = "King's Road 1";
    company.weburl = "http://ohare.example";
    company.AddTel("020-1");
    company.AddEmail("a@ohare.example");
    company.AddQQ("12345");
    company.source = "百度";
    company.ispay = 1;
    company.renzheng = 1;
    store.AddCompany(keyword, company);
    const std::string stored = std::to_string(entry->AddDate);

    EXPECT_TRUE(store.SavePageCursor(keyword, 5, 1));
    store.SaveEngineCursor(keyword, 9, 2);
    store.DeleteCompany(keyword, "1");
    EXPECT_TRUE(store.DeleteKey(keyword));

    const std::vector<std::string> expected = {
        "insert into tbl_key(KeyStr,listcount,lastpage,sglastpage,s360lastpage,adddate) values ('King''s "
        "电子',0,0,0,0," +
            created + ")",
        "select ID from tbl_Key where KeyStr='King''s 电子'",
        "select listid from tbl_list where ComName='O''Hare 贸易'",
        "insert into tbl_list(ComName,Addr,weburl,EMail,Tel,mob,qq,source,ispay,stat,keyid,renzheng) values "
        "('O''Hare 贸易','King''s Road 1','http://ohare.example','a@ohare.example\r\n','020-1\r\n',"
        "'13800000000\r\n','12345\r\n','百度',1,0,'1',1)",
        "select max(ListID) as id from tbl_list",
        "update tbl_key set listcount=1,adddate=" + stored + " where ID=1",
        "update tbl_key set sglastpage=5 where ID=1",
        "update tbl_key set s360lastpage=9 where KeyStr='King''s 电子'",
        "delete from tbl_list where ListID=1",
        "delete from tbl_list where keyid=1",
        "delete from tbl_key where id=1",
    };
    EXPECT_EQ(trace.Take(), expected);
    ASSERT_EQ(stored_.size(), 1u);
    EXPECT_EQ(stored_[0], "King's 电子/O'Hare 贸易/1");
}

TEST_F(KeyListInfoTest, QuotedNameAndAddressAreStoredIntactAndFoundAgain) {
    TKeyListInfo& store = Open();
    store.AddKey("k", true);
    TComPanyInfo company = Company("O'Hare 贸易", "13800000000");
    company.Addr = "King's Road 1\r\nsecond line";
    store.AddCompany("k", company);
    store.AddCompany("k", Company("O'Hare 贸易", "13900000000"));

    EXPECT_EQ(Sql("select ComName || '|' || Addr || '|' || keyid from tbl_list"),
              "O'Hare 贸易|King's Road 1\r\nsecond line|1\n");
    EXPECT_EQ(stored_.size(), 1u);
}

TEST_F(KeyListInfoTest, OnlyNewCompaniesWithAMobileNumberAreStored) {
    TKeyListInfo& store = Open();
    TKeyData* first = store.AddKey("first", true);
    TKeyData* second = store.AddKey("second", true);

    TComPanyInfo noMobile = Company("Landline Only Ltd", "");
    noMobile.AddTel("020-12345678");
    noMobile.AddEmail("info@landline.example");
    noMobile.AddQQ("10001");
    store.AddCompany("first", noMobile);
    EXPECT_EQ(Sql("select count(*) from tbl_list"), "0\n");

    // Found under the first keyword and again under the second: stored once, under the first.
    store.AddCompany("first", Company("Twice Found Ltd", "13800000001"));
    store.AddCompany("second", Company("Twice Found Ltd", "13800000002"));
    EXPECT_EQ(Sql("select keyid || ':' || mob from tbl_list"), first->ID + ":13800000001\r\n\n");
    EXPECT_EQ(store.GetCompanies("first")->size(), 1u);
    EXPECT_TRUE(store.GetCompanies("second")->empty());
    EXPECT_EQ(second->ListCount, 0);

    // Nameless companies share the name " ": the first is stored, every later one is a duplicate.
    store.AddCompany("second", Company("", "13800000003"));
    store.AddCompany("second", Company("联系方式", "13800000004"));
    EXPECT_EQ(Sql("select count(*) from tbl_list where ComName=' '"), "1\n");
    EXPECT_EQ(store.GetCompanies("second")->size(), 1u);

    EXPECT_EQ(stored_, (std::vector<std::string>{"first/Twice Found Ltd/1", "second/ /2"}));
    EXPECT_EQ(Sql("select listcount from tbl_key order by ID"), "1\n1\n");
    EXPECT_EQ(store.TotalCount(), 2);
    EXPECT_FALSE(store.GetCompanies("unknown").has_value());
}

TEST_F(KeyListInfoTest, StoredCopyIsIndependentOfTheCallersRecord) {
    TKeyListInfo& store = Open();
    store.AddKey("k", true);
    TComPanyInfo company = Company("Copy Ltd", "13800000000");
    company.Keyword = "k";
    store.AddCompany("k", company);
    company.Addr = "changed afterwards";
    company.AddMobile("13900000000");

    const auto companies = store.GetCompanies("k");
    ASSERT_EQ(companies->size(), 1u);
    EXPECT_EQ(companies->at(0)->Addr, "");
    EXPECT_EQ(companies->at(0)->Mob, (std::vector<std::string>{"13800000000"}));
    EXPECT_EQ(companies->at(0)->ListID, "1");
}

TEST_F(KeyListInfoTest, FailedInsertDiscardsTheCompany) {
    TKeyListInfo& store = Open();
    TKeyData* entry = store.AddKey("k", true);
    EXPECT_TRUE(store.SavePageCursor("k", 1, 0));
    Sql("create trigger refuse before insert on tbl_list begin select raise(abort, 'refused'); end");

    store.AddCompany("k", Company("Refused Ltd", "13800000000"));
    EXPECT_TRUE(stored_.empty());
    EXPECT_TRUE(store.GetCompanies("k")->empty());
    EXPECT_EQ(entry->ListCount, 0);
    EXPECT_EQ(entry->IdlePages, 1);
}

TEST_F(KeyListInfoTest, FourthPageSaveWithoutANewCompanyIsRefused) {
    TKeyListInfo& store = Open();
    TKeyData* entry = store.AddKey("k", true);
    // Counted over all engines of the keyword together.
    EXPECT_TRUE(store.SavePageCursor("k", 1, 0));
    EXPECT_TRUE(store.SavePageCursor("K", 1, 1));
    EXPECT_TRUE(store.SavePageCursor("k", 1, 2));
    EXPECT_FALSE(store.SavePageCursor("k", 2, 0));
    EXPECT_EQ(entry->LastPage, 1);
    EXPECT_EQ(Sql("select lastpage || ',' || sglastpage || ',' || s360lastpage from tbl_key"), "1,1,1\n");

    // Neither a duplicate nor a company without a mobile number resets the count; a new company does.
    store.AddCompany("k", Company("New Ltd", "13800000000"));
    store.AddCompany("k", Company("New Ltd", "13900000000"));
    EXPECT_TRUE(store.SavePageCursor("k", 2, 0));
    store.AddCompany("k", Company("New Ltd", "13900000000"));
    store.AddCompany("k", Company("No Mobile Ltd", ""));
    EXPECT_TRUE(store.SavePageCursor("k", 3, 0));
    EXPECT_TRUE(store.SavePageCursor("k", 4, 0));
    EXPECT_FALSE(store.SavePageCursor("k", 5, 0));
    EXPECT_EQ(entry->LastPage, 4);

    EXPECT_FALSE(store.SavePageCursor("unknown", 1, 0));
    store.AddKey("other", true);
    EXPECT_FALSE(store.SavePageCursor("other", 1, 3));
    EXPECT_EQ(store.FindKey("other")->IdlePages, 0);
}

TEST_F(KeyListInfoTest, EngineCursorIsWrittenToTheDatabaseOnly) {
    TKeyListInfo& store = Open();
    TKeyData* entry = store.AddKey("Straße", true);
    EXPECT_TRUE(store.SavePageCursor("Straße", 4, 1));
    // Given in another letter case, the row is still found by the stored keyword.
    store.SaveEngineCursor("STRAßE", 7, 1);
    EXPECT_EQ(Sql("select sglastpage from tbl_key"), "7\n");
    EXPECT_EQ(entry->SgLastPage, 4);
    EXPECT_EQ(entry->IdlePages, 1);
}

TEST_F(KeyListInfoTest, KeywordInAnotherLetterCaseIsTheStoredOne) {
    TKeyListInfo& store = Open();
    TKeyData* entry = store.AddKey("Äpfel Berlin", true);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(store.AddKey("äPFEL bERLIN", true), entry);
    EXPECT_EQ(store.FindKey("ÄPFEL BERLIN"), entry);
    EXPECT_EQ(store.FindKeyId("äpfel berlin"), entry->ID);
    EXPECT_EQ(Sql("select count(*) from tbl_key"), "1\n");
    EXPECT_EQ(added_, (std::vector<std::string>{"Äpfel Berlin"}));

    EXPECT_EQ(store.AddKey("", true), nullptr);
    EXPECT_EQ(store.AddKey("bad \xFF keyword", true), nullptr);
    EXPECT_EQ(store.FindKeyId("unknown"), "0");

    // An entry that is not persisted has no row; its companies are stored under keyid 0.
    TKeyData* memoryOnly = store.AddKey("memory only", false);
    EXPECT_EQ(memoryOnly->ID, "0");
    EXPECT_EQ(Sql("select count(*) from tbl_key"), "1\n");
    store.AddCompany("memory only", Company("Orphan Ltd", "13800000000"));
    EXPECT_EQ(Sql("select keyid from tbl_list"), "0\n");

    // A row that no entry stands for is still found by its text.
    Sql("insert into tbl_key(KeyStr) values ('only stored')");
    EXPECT_EQ(store.FindKeyId("only stored"), "2");
}

TEST_F(KeyListInfoTest, LoadKeysReadsRowsInIdOrderWithDefaultsForUnusableValues) {
    Open();
    Sql("insert into tbl_key values (5, 'second', null, 'abc', 3, 2.5, 86400);"
        "insert into tbl_key values (2, 'first', 7, 99999999999, -4, '12', 1e12);"
        "insert into tbl_key values (9, X'C3FF', 1, 1, 1, 1, null);");
    TKeyListInfo& store = Open();
    store.LoadKeys();
    EXPECT_EQ(added_, (std::vector<std::string>{"first", "second", ""}));

    const std::vector<TKeyData*> keys = store.Keys();
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0]->ID, "2");
    EXPECT_EQ(keys[0]->ListCount, 7);
    EXPECT_EQ(keys[0]->LastPage, 0);  // beyond 32 bits
    EXPECT_EQ(keys[0]->SgLastPage, -4);
    EXPECT_EQ(keys[0]->S360LastPage, 12);
    EXPECT_EQ(keys[0]->AddDate, 1000000000000);
    EXPECT_EQ(keys[1]->ListCount, 0);     // NULL
    EXPECT_EQ(keys[1]->LastPage, 0);      // not a number
    EXPECT_EQ(keys[1]->SgLastPage, 3);    // NUMERIC 3 reads "3", not "3.0"
    EXPECT_EQ(keys[1]->S360LastPage, 0);  // not an integer
    EXPECT_EQ(keys[1]->AddDate, 86400);
    EXPECT_EQ(keys[2]->KeyStr, "");  // not UTF-8
    EXPECT_EQ(keys[2]->AddDate, 0);
    for (const TKeyData* key : keys) {
        EXPECT_FALSE(key->LoadStarted);
        EXPECT_TRUE(key->Companies.empty());
    }
    EXPECT_EQ(store.TotalCount(), 8);
}

TEST_F(KeyListInfoTest, CreationTimeIsTheLocalWallClockCountedAsUniversalTime) {
    const char* previous = std::getenv("TZ");
    const std::string saved = previous ? previous : "";
    setenv("TZ", "CST-8", 1);  // eight hours ahead of universal time, no daylight saving
    tzset();
    TKeyListInfo& store = Open();
    const std::int64_t before = std::time(nullptr) + 8 * 3600;
    const TKeyData* entry = store.AddKey("k", true);
    const std::int64_t after = std::time(nullptr) + 8 * 3600;
    if (previous)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();

    EXPECT_GE(entry->AddDate, before);
    EXPECT_LE(entry->AddDate, after + 1);  // rounded to the nearest second
    EXPECT_EQ(Sql("select adddate from tbl_key"), std::to_string(entry->AddDate) + "\n");
}

TEST_F(KeyListInfoTest, DeletingACompanyLeavesTheListcountColumnUntilTheNextStore) {
    TKeyListInfo& store = Open();
    TKeyData* entry = store.AddKey("k", true);
    store.AddCompany("k", Company("One Ltd", "13800000001"));
    store.AddCompany("k", Company("Two Ltd", "13800000002"));

    store.DeleteCompany("k", "1 or 1=1");  // not a list id: nothing happens
    store.DeleteCompany("k", "1");
    EXPECT_EQ(Sql("select ComName from tbl_list"), "Two Ltd\n");
    ASSERT_EQ(store.GetCompanies("k")->size(), 1u);
    EXPECT_EQ(entry->ListCount, 1);
    EXPECT_EQ(Sql("select listcount from tbl_key"), "2\n");

    store.AddCompany("k", Company("Three Ltd", "13800000003"));
    EXPECT_EQ(Sql("select listcount from tbl_key"), "2\n");
    EXPECT_EQ(entry->ListCount, 2);
}

TEST_F(KeyListInfoTest, DeleteKeyAndClearAllRemoveOnlyTheKeywordsRows) {
    TKeyListInfo& store = Open();
    store.AddKey("a", true);
    store.AddKey("b", true);
    store.AddCompany("a", Company("A Ltd", "13800000001"));
    store.AddCompany("b", Company("B Ltd", "13800000002"));
    Sql("insert into tbl_list(ComName, mob, keyid) values ('Orphan Ltd', '13800000003', 99)");

    EXPECT_TRUE(store.DeleteKey("A"));
    EXPECT_EQ(store.FindKey("a"), nullptr);
    EXPECT_EQ(Sql("select ComName from tbl_list order by ListID"), "B Ltd\nOrphan Ltd\n");
    EXPECT_EQ(Sql("select KeyStr from tbl_key"), "b\n");
    EXPECT_FALSE(store.DeleteKey("a"));

    EXPECT_TRUE(store.ClearAll());
    EXPECT_TRUE(store.Keys().empty());
    EXPECT_EQ(store.TotalCount(), 0);
    EXPECT_EQ(Sql("select count(*) from tbl_key"), "0\n");
    EXPECT_EQ(Sql("select ComName from tbl_list"), "Orphan Ltd\n");
    // Ids of deleted rows are not given out again.
    EXPECT_EQ(store.AddKey("c", true)->ID, "3");
}

TEST_F(KeyListInfoTest, DataFileThatIsNotADatabaseRaisesTheDatabaseError) {
    WriteDataFile(std::string(4096, 'x'));
    try {
        Open();
        FAIL() << "opened";
    } catch (const ESQLiteException& error) {
        EXPECT_NE(std::string(error.what()).find("File opened that is not a database file"), std::string::npos)
            << error.what();
    }
    TKeyListInfo& reader = Open(TStoreAccess::ReadOnly);
    EXPECT_THROW(reader.LoadKeys(), ESQLiteException);
}

TEST_F(KeyListInfoTest, ReadOnlyDatabaseStoresNothingAndSaysSo) {
    Open().AddKey("k", true);
    store_->AddCompany("k", Company("Kept Ltd", "13800000001"));
    stored_.clear();

    TKeyListInfo& store = Open(TStoreAccess::ReadOnly);
    store.LoadKeys();
    const TAddCompanyResult refused = store.AddCompany("k", Company("New Ltd", "13800000002"));
    EXPECT_EQ(refused.Outcome, TStoreOutcome::Failed);
    EXPECT_EQ(refused.Error, "attempt to write a readonly database");
    EXPECT_TRUE(stored_.empty());
    EXPECT_EQ(store.FindKey("k")->ListCount, 1);
    EXPECT_EQ(store.AddKey("new", true)->ID, "0");
    EXPECT_FALSE(store.DeleteKey("k"));
    EXPECT_EQ(Sql("select count(*) from tbl_key; select count(*) from tbl_list"), "1\n1\n");

    // A missing file is not created by a reader; an empty one (no writer has made the tables yet) has no keywords.
    std::filesystem::remove(home_.DatabasePath());
    EXPECT_THROW(Open(TStoreAccess::ReadOnly), ESQLiteException);
    EXPECT_FALSE(std::filesystem::exists(home_.DatabasePath()));
    WriteDataFile("");
    Open(TStoreAccess::ReadOnly).LoadKeys();
    EXPECT_TRUE(store_->Keys().empty());
    EXPECT_EQ(std::filesystem::file_size(home_.DatabasePath()), 0u);
}

TEST_F(KeyListInfoTest, ABusyDatabaseIsWaitedForAndACompanyItStillRefusesHoldsItsEngineCursorBack) {
    TKeyListInfo& store = Open();
    TKeyData* entry = store.AddKey("k", true);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(home_.DatabasePath().c_str(), &other), SQLITE_OK);

    // Another program's write lock, released while the store waits: the company is stored.
    ASSERT_EQ(sqlite3_exec(other, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread release([other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        sqlite3_exec(other, "commit", nullptr, nullptr, nullptr);
    });
    EXPECT_EQ(store.AddCompany("k", Company("Waited Ltd", "13800000001")).Outcome, TStoreOutcome::Stored);
    release.join();
    EXPECT_EQ(stored_.size(), 1u);

    // A lock held past the (shortened) time-out: the company is lost, and its engine's cursor goes back to the
    // result page it came from.
    sqlite3_busy_timeout(store.DataManager().Database().Handle(), 50);
    EXPECT_TRUE(store.SavePageCursor("k", 5, 1));
    ASSERT_EQ(sqlite3_exec(other, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
    TComPanyInfo refused = Company("Locked Ltd", "13800000002");
    refused.ResultEngine = 1;
    refused.ResultPage = 3;
    const TAddCompanyResult result = store.AddCompany("k", refused);
    EXPECT_EQ(result.Outcome, TStoreOutcome::Failed);
    EXPECT_EQ(result.Error, "database is locked");
    EXPECT_EQ(entry->SgLastPage, 3);
    EXPECT_EQ(entry->ListCount, 1);
    EXPECT_EQ(store.GetCompanies("k")->size(), 1u);
    EXPECT_THROW(store.LoadKeys(), ESQLiteException);
    ASSERT_EQ(sqlite3_exec(other, "commit", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);

    // The database still held page 5 (the lock kept the step back from it); the saves that follow write no
    // later page until the engine has ended.
    EXPECT_EQ(Sql("select sglastpage from tbl_key"), "5\n");
    EXPECT_TRUE(store.SavePageCursor("k", 6, 1));
    EXPECT_EQ(Sql("select sglastpage from tbl_key"), "3\n");
    EXPECT_EQ(entry->SgLastPage, 3);
    const TCursorSave ended = store.SaveEngineCursor("k", 7, 1);
    EXPECT_EQ(ended.Page, 3);
    EXPECT_TRUE(ended.Written);
    EXPECT_TRUE(store.SavePageCursor("k", 4, 1));
    EXPECT_EQ(Sql("select sglastpage from tbl_key"), "4\n");
    EXPECT_EQ(Sql("select count(*) from tbl_list"), "1\n");
}

TEST_F(KeyListInfoTest, AddKeyReturnsWhatTheListHoldsOnceTheAddedEventReturned) {
    TKeyListInfo& store = Open();
    store.OnKeyAdded = [](TKeyListInfo& self, TKeyData& entry) {
        if (entry.KeyStr == "gone") {
            self.DeleteKey("gone");
        } else if (entry.KeyStr == "replaced") {
            self.DeleteKey("replaced");
            self.AddKey("REPLACED", true);
        }
    };
    EXPECT_EQ(store.AddKey("gone", true), nullptr);
    EXPECT_EQ(store.FindKey("gone"), nullptr);
    TKeyData* replaced = store.AddKey("replaced", true);
    ASSERT_NE(replaced, nullptr);
    EXPECT_EQ(replaced->KeyStr, "REPLACED");
    EXPECT_EQ(Sql("select KeyStr from tbl_key"), "REPLACED\n");

    // Keywords read at start-up may be deleted by the handler as well.
    store.AddKey("kept", true);
    TKeyListInfo& again = Open();
    again.OnKeyAdded = [](TKeyListInfo& self, TKeyData& entry) {
        if (entry.KeyStr == "REPLACED")
            self.DeleteKey(entry.KeyStr);
    };
    again.LoadKeys();
    ASSERT_EQ(again.Keys().size(), 1u);
    EXPECT_EQ(again.Keys()[0]->KeyStr, "kept");
}

TEST_F(KeyListInfoTest, SecondWriterIsRefusedWhileReadersStillOpen) {
    Open().AddKey("k", true);
    try {
        TKeyListInfo second(TStoreAccess::ReadWrite);
        FAIL() << "a second writer opened the database";
    } catch (const EWriterLockHeld& error) {
        EXPECT_NE(std::string(error.what()).find("in use by another program"), std::string::npos) << error.what();
    }
    TKeyListInfo reader(TStoreAccess::ReadOnly);
    reader.LoadKeys();
    EXPECT_NE(reader.FindKey("k"), nullptr);

    store_.reset();
    EXPECT_NO_THROW(TKeyListInfo(TStoreAccess::ReadWrite));
}

}  // namespace
}  // namespace vexo
