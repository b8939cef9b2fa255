// The result loader on real database files, with an event loop as the UI thread: records rebuilt from rows, the
// end always reported, companies stored or deleted while a load runs, and keywords deleted (or the store
// destroyed) under a running loader.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/WorkerThread.h"
#include "store/KeyListInfo.h"
#include "support/TempHome.h"

namespace vexo {
namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 60s;

TComPanyInfo Company(const std::string& name, const std::string& mobile) {
    TComPanyInfo company;
    company.SetComName(name);
    company.AddMobile(mobile);
    return company;
}

class DataThreadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        loop_ = std::make_shared<TEventLoop>();
        SetCurrentDispatcher(loop_);
        Open();
    }

    void TearDown() override {
        store_.reset();
        EXPECT_TRUE(loop_->RunUntil([] { return LiveWorkerCount() == 0; }, kWait));
        loop_->Close();
        SetCurrentDispatcher(nullptr);
    }

    TKeyListInfo& Open() {
        store_ = std::make_unique<TKeyListInfo>();
        store_->OnKeyLoaded = [this](TKeyListInfo& store, const std::string& keyword) {
            // Raised on the UI thread with the store lock released.
            EXPECT_TRUE(loop_->IsUiThread());
            std::unique_lock lock(store.DataManager().Lock(), std::try_to_lock);
            EXPECT_TRUE(lock.owns_lock());
            loaded_.push_back(keyword);
        };
        return *store_;
    }

    std::string Sql(const std::string& sql) { return test::RunSqlite(home_.DatabasePath(), sql); }

    // Adds a keyword whose row holds `count` generated companies named "<prefix> <n>" and listcount `count`.
    TKeyData* KeywordWithCompanies(const std::string& keyword, int count) {
        TKeyData* entry = store_->AddKey(keyword, true);
        Sql("with recursive n(i) as (select 1 union all select i + 1 from n where i < " + std::to_string(count) +
            ") insert into tbl_list(ComName, mob, keyid) select '" + keyword + " ' || i, '1380000' || i, " + entry->ID +
            " from n; update tbl_key set listcount=" + std::to_string(count) + " where ID=" + entry->ID);
        entry->ListCount = count;
        return entry;
    }

    void WaitForLoads(std::size_t count) {
        ASSERT_TRUE(loop_->RunUntil([&] { return loaded_.size() >= count; }, kWait));
    }

    void WaitForLoaders() {
        ASSERT_TRUE(loop_->RunUntil([] { return LiveWorkerCount() == 0; }, kWait));
    }

    std::set<std::string> ListIds(const std::string& keyword) {
        std::set<std::string> ids;
        const TCompanyList companies = store_->GetCompanies(keyword).value_or(TCompanyList());
        for (const auto& company : companies)
            EXPECT_TRUE(ids.insert(company->ListID).second) << "listed twice: " << company->ListID;
        return ids;
    }

    std::set<std::string> StoredListIds(const TKeyData& entry) {
        std::set<std::string> ids;
        std::string lines = Sql("select ListID from tbl_list where keyid=" + entry.ID);
        for (std::size_t start = 0, end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1)
            ids.insert(lines.substr(start, end - start));
        return ids;
    }

    test::TTempHome home_;
    std::shared_ptr<TEventLoop> loop_;
    std::unique_ptr<TKeyListInfo> store_;
    std::vector<std::string> loaded_;
};

TEST_F(DataThreadTest, StoredRowsComeBackAsRecords) {
    TKeyData* entry = store_->AddKey("King's", true);
    store_->AddKey("other", true);
    Sql("insert into tbl_list(ComName, Addr, weburl, EMail, Tel, mob, qq, source, ispay, stat, keyid, renzheng) "
        "values ('联系我们北京某某公司', X'FF41', 'http://a.example', ' a@a.example' || char(13,10) || char(9), "
        "'010-1|010-2', '13800000001' || char(13,10) || '13800000002' || char(13,10), "
        "'1' || char(10) || '2' || char(13) || '3', '360', null, 0, 1, '1'); "
        "insert into tbl_list(ComName, mob, keyid, ispay, renzheng) values ('Other Keyword Ltd', '1', 2, 1, 'x'); "
        "insert into tbl_list(ComName, mob, keyid, ispay, renzheng) values ('Second Ltd', '13900000000', 1, 1, 'x')");
    sqlite3* db = store_->DataManager().Database().Handle();
    std::mutex traceMutex;
    std::vector<std::string> statements;
    auto onStatement = [](unsigned, void* context, void*, void* text) {
        auto* trace = static_cast<std::pair<std::mutex*, std::vector<std::string>*>*>(context);
        std::lock_guard lock(*trace->first);
        trace->second->emplace_back(static_cast<const char*>(text));
        return 0;
    };
    std::pair<std::mutex*, std::vector<std::string>*> trace{&traceMutex, &statements};
    sqlite3_trace_v2(db, SQLITE_TRACE_STMT, onStatement, &trace);

    store_->LoadCompanies("KING'S");
    EXPECT_TRUE(entry->LoadStarted);
    WaitForLoads(1);
    WaitForLoaders();
    sqlite3_trace_v2(db, 0, nullptr, nullptr);

    EXPECT_EQ(statements, (std::vector<std::string>{"select ID from tbl_key where keystr='King''s'",
                                                    "select * from tbl_list where keyid=1"}));
    EXPECT_EQ(loaded_, (std::vector<std::string>{"King's"}));
    EXPECT_EQ(entry->LoadError, "");
    const auto companies = store_->GetCompanies("King's");
    ASSERT_EQ(companies->size(), 2u);
    const TComPanyInfo& first = *companies->at(0);
    EXPECT_EQ(first.ListID, "1");
    EXPECT_EQ(first.ComName, "北京某某公司");
    EXPECT_EQ(first.Addr, "");  // not UTF-8
    EXPECT_EQ(first.weburl, "http://a.example");
    EXPECT_EQ(first.EMail, (std::vector<std::string>{"a@a.example"}));
    EXPECT_EQ(first.Tel, (std::vector<std::string>{"010-1", "010-2"}));
    EXPECT_EQ(first.Mob, (std::vector<std::string>{"13800000001", "13800000002"}));
    EXPECT_EQ(first.qq, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(first.source, "360");
    EXPECT_EQ(first.ispay, 0);  // NULL
    EXPECT_EQ(first.renzheng, 1);
    EXPECT_EQ(first.Keyword, "");
    const TComPanyInfo& second = *companies->at(1);
    EXPECT_EQ(second.ListID, "3");
    EXPECT_EQ(second.ispay, 1);
    EXPECT_EQ(second.renzheng, 0);  // not a number
    EXPECT_EQ(second.source, "");
    EXPECT_EQ(entry->ListCount, 0);  // the stored listcount, untouched by the load

    // In memory now: the next request is answered at once.
    store_->LoadCompanies("King's");
    EXPECT_EQ(loaded_.size(), 2u);
    EXPECT_EQ(LiveWorkerCount(), 0u);
}

TEST_F(DataThreadTest, KeywordWithoutCompaniesEndsEmptyAndLoadsAgainNextTime) {
    TKeyData* entry = store_->AddKey("empty", true);
    store_->LoadCompanies("empty");
    store_->LoadCompanies("empty");  // a loader runs already: its end answers both
    WaitForLoads(1);
    WaitForLoaders();
    EXPECT_EQ(loaded_.size(), 1u);
    EXPECT_TRUE(store_->GetCompanies("empty")->empty());
    EXPECT_TRUE(entry->LoadStarted);

    store_->LoadCompanies("empty");
    WaitForLoads(2);
    EXPECT_EQ(loaded_, (std::vector<std::string>{"empty", "empty"}));
    store_->LoadCompanies("unknown");
}

TEST_F(DataThreadTest, RequestKeyDataRecordsThePurposeAndHandsTheEntryOutOnceLoading) {
    TKeyData* entry = KeywordWithCompanies("k", 3);
    EXPECT_EQ(store_->RequestKeyData("k", PurposeQuery), nullptr);
    EXPECT_FALSE(entry->LoadStarted);
    EXPECT_EQ(LiveWorkerCount(), 0u);

    EXPECT_EQ(store_->RequestKeyData("k", PurposeExport), nullptr);
    EXPECT_EQ(store_->RequestKeyData("K", PurposeStart), entry);  // loading: handed out already
    WaitForLoads(1);
    EXPECT_EQ(store_->TakePendingPurpose("k"), PurposeExport);
    EXPECT_EQ(store_->TakePendingPurpose("k"), PurposeShow);
    EXPECT_EQ(store_->TakePendingPurpose("unknown"), PurposeShow);
    EXPECT_EQ(store_->GetCompanies("k")->size(), 3u);
}

TEST_F(DataThreadTest, DatabaseErrorEndsTheLoadAndStillReportsIt) {
    TKeyData* gone = store_->AddKey("row deleted", true);
    Sql("delete from tbl_key where ID=" + gone->ID);
    store_->LoadCompanies("row deleted");
    WaitForLoads(1);
    EXPECT_NE(gone->LoadError.find("Error executing SQL"), std::string::npos) << gone->LoadError;
    EXPECT_TRUE(store_->GetCompanies("row deleted")->empty());

    KeywordWithCompanies("locked", 2);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(home_.DatabasePath().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
    store_->LoadCompanies("locked");
    WaitForLoads(2);
    sqlite3_exec(other, "commit", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    TKeyData* locked = store_->FindKey("locked");
    EXPECT_NE(locked->LoadError, "");
    EXPECT_TRUE(store_->GetCompanies("locked")->empty());

    // A company stored after the failed load counts on top of the stored ones, and the next request loads
    // those beside it.
    store_->AddCompany("locked", Company("After Ltd", "13900000000"));
    EXPECT_EQ(locked->ListCount, 3);
    EXPECT_EQ(Sql("select listcount from tbl_key where ID=" + locked->ID), "3\n");
    store_->LoadCompanies("locked");
    WaitForLoads(3);
    EXPECT_EQ(locked->LoadError, "");
    EXPECT_EQ(ListIds("locked"), StoredListIds(*locked));
    EXPECT_EQ(store_->GetCompanies("locked")->size(), 3u);
}

TEST_F(DataThreadTest, CompaniesStoredOrDeletedWhileLoadingAreListedAsStored) {
    constexpr int kCount = 3000;
    for (const std::string keyword : {"first", "second", "third"}) {
        TKeyData* entry = KeywordWithCompanies(keyword, kCount);
        const std::size_t loadsBefore = loaded_.size();
        store_->LoadCompanies(keyword);
        // The loader thread is starting while the UI thread stores one company and deletes another.
        store_->AddCompany(keyword, Company("New " + keyword, "13900000000"));
        const std::string deleted = Sql("select min(ListID) + 7 from tbl_list where keyid=" + entry->ID);
        store_->DeleteCompany(keyword, deleted.substr(0, deleted.size() - 1));
        WaitForLoads(loadsBefore + 1);

        const std::set<std::string> listed = ListIds(keyword);
        EXPECT_EQ(listed, StoredListIds(*entry));
        EXPECT_EQ(listed.size(), static_cast<std::size_t>(kCount));
        EXPECT_EQ(entry->ListCount, kCount);  // stored count + 1 - 1
    }
}

TEST_F(DataThreadTest, CompaniesStoredBeforeTheFirstLoadDoNotHideTheStoredOnes) {
    TKeyData* entry = KeywordWithCompanies("k", 4);
    store_->AddCompany("k", Company("Late Ltd", "13900000000"));
    EXPECT_EQ(entry->ListCount, 5);
    // Start asks for the companies; the list is not empty, yet the stored ones are not in memory.
    EXPECT_EQ(store_->RequestKeyData("k", PurposeStart), nullptr);
    WaitForLoads(1);
    EXPECT_EQ(ListIds("k"), StoredListIds(*entry));
    EXPECT_EQ(store_->GetCompanies("k")->size(), 5u);
    EXPECT_EQ(store_->RequestKeyData("k", PurposeStart), entry);
}

TEST_F(DataThreadTest, KeywordDeletedWhileLoadingReportsNothing) {
    KeywordWithCompanies("deleted", 20000);
    store_->LoadCompanies("deleted");
    store_->DeleteKey("deleted");
    WaitForLoaders();
    EXPECT_TRUE(loaded_.empty());

    // Deleted and added again while the old load runs: only the new entry's load is reported.
    KeywordWithCompanies("again", 20000);
    store_->LoadCompanies("again");
    store_->DeleteKey("again");
    TKeyData* renewed = store_->AddKey("AGAIN", true);
    store_->LoadCompanies("again");
    WaitForLoaders();
    EXPECT_EQ(loaded_, (std::vector<std::string>{"AGAIN"}));
    EXPECT_TRUE(store_->GetCompanies("again")->empty());
    EXPECT_EQ(renewed->LoadError, "");

    KeywordWithCompanies("cleared", 20000);
    store_->LoadCompanies("cleared");
    store_->ClearAll();
    WaitForLoaders();
    EXPECT_EQ(loaded_.size(), 1u);
}

TEST_F(DataThreadTest, StoreDestroyedWhileLoadingIsLeftAlone) {
    KeywordWithCompanies("k", 20000);
    store_->LoadCompanies("k");
    store_.reset();
    WaitForLoaders();
    EXPECT_TRUE(loaded_.empty());
}

}  // namespace
}  // namespace vexo
