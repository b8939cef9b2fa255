// The keyword and company store: schema set-up, keyword list, storing and deleting companies, page cursors and
// the start and end of result loads.
#include "store/KeyListInfo.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <exception>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

#include "store/UDataThread.h"
#include "text/CaseFold.h"
#include "text/Gbk.h"

namespace vexo {

namespace {

constexpr const char* kDatabaseName = "users";

// Three page saves without a new company in between are allowed; the fourth is refused.
constexpr std::uint8_t kMaxIdlePages = 3;

// Row ids are never reused ("autoincrement"): a new keyword never takes over companies left under the id of a
// deleted one, and the newest company always has the highest ListID.
constexpr const char* kCreateKeyTable =
    "create table tbl_key(ID integer primary key autoincrement, KeyStr text, listcount numeric, lastpage numeric, "
    "sglastpage NUMERIC, s360lastpage NUMERIC, adddate NUMERIC)";
constexpr const char* kCreateListTable =
    "create table tbl_list(ListID integer primary key autoincrement, ComName text, Addr text, weburl text, "
    "EMail text, Tel text, mob text, qq TEXT, source TEXT, ispay NUMERIC, stat numeric, keyid numeric, "
    "renzheng NUMERIC)";
// The duplicate test looks every collected company up by name.
constexpr const char* kCreateNameIndex = "create index if not exists idx_tbl_list_comname on tbl_list(ComName)";

struct TUpgradeColumn {
    const char* name;
    const char* statement;
};

struct TUpgradeTable {
    const char* schemaQuery;
    std::array<TUpgradeColumn, 4> columns;
    std::size_t count;
};

// Columns added by later versions, in the order they are added.
const std::array<TUpgradeTable, 2> kUpgrades{{
    {"select sql from sqlite_master where tbl_name='tbl_key' and type='table'",
     {{{"sglastpage", "alter table tbl_key add sglastpage NUMERIC"},
       {"s360lastpage", "alter table tbl_key add s360lastpage NUMERIC"},
       {"adddate", "alter table tbl_key add adddate NUMERIC"}}},
     3},
    {"select sql from sqlite_master where tbl_name='tbl_list' and type='table'",
     {{{"source", "alter table tbl_list add source TEXT"},
       {"ispay", "alter table tbl_list add ispay NUMERIC"},
       {"renzheng", "alter table tbl_list add renzheng NUMERIC"},
       {"qq", "alter table tbl_list add qq TEXT"}}},
     4},
}};

std::string LowerAscii(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); });
    return text;
}

// A list id goes into a statement as it is, so only a plain decimal number is accepted.
bool IsDecimalId(const std::string& text) {
    constexpr std::size_t kMaxDigits = 19;
    return !text.empty() && text.size() <= kMaxDigits &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return c >= '0' && c <= '9'; });
}

std::int32_t* CursorOfEngine(TKeyData& entry, int engine) {
    switch (engine) {
        case 0:
            return &entry.LastPage;
        case 1:
            return &entry.SgLastPage;
        case 2:
            return &entry.S360LastPage;
        default:
            return nullptr;
    }
}

// True once every stored company of the keyword is in its list: a load has ended and read every row. Until then
// the list is no count of the stored companies.
bool AllStoredInMemory(const TKeyData& entry) {
    return entry.LoadStarted && !entry.LoaderRunning && entry.LoadError.empty();
}

std::unique_ptr<TWriterLock> TakeWriterLock(TStoreAccess access) {
    if (access == TStoreAccess::ReadOnly)
        return nullptr;
    return std::make_unique<TWriterLock>(TWriterLock::PathFor(kDatabaseName));
}

std::shared_ptr<TDataManager> OpenDatabase(TStoreAccess access) {
    if (access == TStoreAccess::ReadWrite) {
        std::error_code ignored;  // opening the file reports a folder that could not be made
        const std::filesystem::path file = TDataManager::DatabasePath(kDatabaseName);
        std::filesystem::create_directories(file.parent_path(), ignored);
    }
    return std::make_shared<TDataManager>(kDatabaseName, access == TStoreAccess::ReadOnly);
}

}  // namespace

bool TKeyListInfo::DatabaseExists() {
    std::error_code error;
    return std::filesystem::exists(TDataManager::DatabasePath(kDatabaseName), error);
}

TKeyListInfo::TKeyListInfo(TStoreAccess access)
    : access_(access), writerLock_(TakeWriterLock(access)), dataManager_(OpenDatabase(access)) {
    if (access == TStoreAccess::ReadOnly)
        return;
    CreateMissingTables();
    UpgradeSchema();
    EnsureNameIndex();
}

TKeyListInfo::~TKeyListInfo() {
    alive_.reset();
    for (const auto& entry : keys_) {
        if (entry->LoaderRunning)
            entry->Detached.store(true);
    }
    dataManager_.reset();
    index_.clear();
    keys_.clear();
}

void TKeyListInfo::CreateMissingTables() {
    std::lock_guard lock(dataManager_->Lock());
    TDataManager& data = *dataManager_;
    data.Reset();
    data.Sql = "select name from sqlite_master where type='table'";
    if (data.Query()->RowCount() > 0)
        return;
    // A failure shows at the first query on the tables.
    data.Reset();
    data.Exec(kCreateKeyTable);
    data.Reset();
    data.Exec(kCreateListTable);
}

void TKeyListInfo::UpgradeSchema() {
    std::lock_guard lock(dataManager_->Lock());
    TDataManager& data = *dataManager_;
    for (const TUpgradeTable& table : kUpgrades) {
        data.Reset();
        data.Sql = table.schemaQuery;
        std::unique_ptr<TSQLiteTable> result = data.Query();
        if (result->RowCount() == 0)
            continue;
        const std::string schema = LowerAscii(result->ColumnText(result->ColumnIndex("sql")));
        for (std::size_t i = 0; i < table.count; ++i) {
            if (schema.find(table.columns[i].name) != std::string::npos)
                continue;
            data.Reset();
            data.Exec(table.columns[i].statement);  // a failure leaves the column missing; nothing else to do
        }
    }
}

void TKeyListInfo::EnsureNameIndex() {
    std::lock_guard lock(dataManager_->Lock());
    dataManager_->Reset();
    dataManager_->Exec(kCreateNameIndex);  // without tbl_list there is nothing to index
}

std::shared_ptr<TKeyData> TKeyListInfo::Find(const std::string& keyword) const {
    auto it = index_.find(CaseFold(keyword));
    return it == index_.end() ? nullptr : it->second;
}

void TKeyListInfo::Append(std::shared_ptr<TKeyData> entry) {
    index_.try_emplace(CaseFold(entry->KeyStr), entry);
    keys_.push_back(std::move(entry));
}

void TKeyListInfo::Remove(const std::shared_ptr<TKeyData>& entry) {
    keys_.erase(std::remove(keys_.begin(), keys_.end(), entry), keys_.end());
    const std::string folded = CaseFold(entry->KeyStr);
    auto it = index_.find(folded);
    if (it != index_.end() && it->second == entry) {
        index_.erase(it);
        // Another row of the same keyword (in another letter case) takes the name over.
        auto other = std::find_if(keys_.begin(), keys_.end(),
                                  [&](const auto& candidate) { return CaseFold(candidate->KeyStr) == folded; });
        if (other != keys_.end())
            index_.emplace(folded, *other);
    }
    // A running loader shares the entry: it stops appending, and the entry is freed when the loader lets go.
    if (entry->LoaderRunning)
        entry->Detached.store(true);
}

void TKeyListInfo::RaiseKeyLoaded(const std::string& keyword) {
    if (OnKeyLoaded)
        OnKeyLoaded(*this, keyword);
}

void TKeyListInfo::RaiseKeyAdded(TKeyData& entry) {
    if (OnKeyAdded)
        OnKeyAdded(*this, entry);
}

void TKeyListInfo::LoadKeys() {
    std::unique_ptr<TSQLiteTable> table;
    {
        std::lock_guard lock(dataManager_->Lock());
        TDataManager& data = *dataManager_;
        if (access_ == TStoreAccess::ReadOnly) {
            // A writer creates the tables; a reader may come first (an empty or a foreign file).
            data.Reset();
            data.Sql = "select name from sqlite_master where type='table' and name='tbl_key'";
            if (data.Query()->RowCount() == 0)
                return;
        }
        data.Reset();
        data.Sql = "select * from tbl_key order by id asc";
        table = data.Query();
    }
    if (!table || table->RowCount() == 0)
        return;
    const int idColumn = table->ColumnIndex("ID");
    const int countColumn = table->ColumnIndex("listcount");
    const int keyColumn = table->ColumnIndex("KeyStr");
    const int baiduColumn = table->ColumnIndex("lastpage");
    // A reader does not upgrade the schema: the columns added by later versions may be missing and read as 0.
    const int dateColumn = table->FindColumn("adddate");
    const int sogouColumn = table->FindColumn("sglastpage");
    const int so360Column = table->FindColumn("s360lastpage");
    for (; !table->AtEnd(); table->NextRow()) {
        auto entry = std::make_shared<TKeyData>();
        entry->ID = table->ColumnText(idColumn);
        entry->ListCount = StoredInt32(table->ColumnText(countColumn));
        entry->KeyStr = FromStoredText(table->ColumnText(keyColumn));
        // 64 bits, unlike the cursors: a time stamp after 2038 must not read as 0.
        entry->AddDate = StoredInt64(table->OptionalColumnText(dateColumn));
        entry->LastPage = StoredInt32(table->ColumnText(baiduColumn));
        entry->SgLastPage = StoredInt32(table->OptionalColumnText(sogouColumn));
        entry->S360LastPage = StoredInt32(table->OptionalColumnText(so360Column));
        // Held here as well: a handler may delete the keyword again.
        const std::shared_ptr<TKeyData> added = entry;
        Append(std::move(entry));
        RaiseKeyAdded(*added);
    }
}

TKeyData* TKeyListInfo::AddKey(const std::string& keyword, bool persist) {
    if (keyword.empty() || !IsValidUtf8(keyword))
        return nullptr;
    if (auto existing = Find(keyword))
        return existing.get();

    // The handler of OnKeyAdded may use the store again, even delete the keyword: `entry` keeps the new entry alive
    // until the event has returned, and the result is what the list holds then.
    auto entry = std::make_shared<TKeyData>();
    entry->KeyStr = keyword;
    entry->AddDate = LocalNowSeconds();
    Append(entry);
    if (persist) {
        std::exception_ptr error;
        {
            std::lock_guard lock(dataManager_->Lock());
            TDataManager& data = *dataManager_;
            data.Reset();
            data.AddText("KeyStr", ToStoredText(keyword));
            data.AddInteger("listcount", 0);
            data.AddInteger("lastpage", 0);
            data.AddInteger("sglastpage", 0);
            data.AddInteger("s360lastpage", 0);
            data.AddFloat("adddate", static_cast<double>(entry->AddDate));
            data.InsertInto("tbl_key");  // a failure leaves ID "0"
            try {
                entry->ID = FindKeyIdLocked(keyword);
            } catch (...) {
                error = std::current_exception();
            }
        }
        if (error) {
            // The entry is in the list either way; the window learns of it before the error reaches it.
            RaiseKeyAdded(*entry);
            std::rethrow_exception(error);
        }
    }
    RaiseKeyAdded(*entry);
    return Find(keyword).get();
}

std::string TKeyListInfo::FindKeyId(const std::string& keyword) {
    std::lock_guard lock(dataManager_->Lock());
    return FindKeyIdLocked(keyword);
}

std::string TKeyListInfo::FindKeyIdLocked(const std::string& keyword) {
    // A keyword in the list is looked up as stored; another one as given.
    const auto entry = Find(keyword);
    const std::string& stored = entry ? entry->KeyStr : keyword;
    if (stored.empty() || !IsValidUtf8(stored))
        return "0";
    TDataManager& data = *dataManager_;
    data.Reset();
    data.Sql = "select ID from tbl_Key where KeyStr='" + QuoteSql(stored) + "'";
    std::unique_ptr<TSQLiteTable> table = data.Query();
    if (!table || table->RowCount() == 0)
        return "0";
    return table->ColumnText(table->ColumnIndex("ID"));
}

TAddCompanyResult TKeyListInfo::AddCompany(const std::string& keyword, const TComPanyInfo& record) {
    if (record.Mob.empty())
        return {};
    const auto entry = Find(keyword);
    if (!entry)
        return {};
    auto copy = std::make_shared<TComPanyInfo>();
    copy->AssignFrom(record);
    {
        std::lock_guard lock(dataManager_->Lock());
        TDataManager& data = *dataManager_;
        const std::string name = ToStoredText(copy->GetComName());
        bool inserted = false;
        std::string error;
        try {
            data.Reset();
            data.Sql = "select listid from tbl_list where ComName='" + QuoteSql(name) + "'";
            if (data.Query()->RowCount() > 0)
                return {};  // stored already, under this or another keyword

            data.Reset();
            data.AddText("ComName", name);
            data.AddText("Addr", ToStoredText(copy->Addr));
            data.AddText("weburl", ToStoredText(copy->weburl));
            data.AddText("EMail", StoredListText(copy->EMail));
            data.AddText("Tel", StoredListText(copy->Tel));
            data.AddText("mob", StoredListText(copy->Mob));
            data.AddText("qq", StoredListText(copy->qq));
            data.AddText("source", ToStoredText(copy->source));
            data.AddInteger("ispay", copy->ispay);
            data.AddInteger("stat", 0);
            data.AddText("keyid", entry->ID);
            data.AddInteger("renzheng", copy->renzheng);
            inserted = data.InsertInto("tbl_list");
        } catch (const std::exception& failure) {
            error = failure.what();  // the look-up failed
        }
        if (!inserted) {
            // The connection's own words ("database is locked", "database or disk is full") unless it has none.
            sqlite3* handle = data.Database().Handle();
            if (sqlite3_errcode(handle) != SQLITE_OK || error.empty())
                error = sqlite3_errmsg(handle);
            HoldCursorBack(*entry, record);
            return {TStoreOutcome::Failed, std::move(error)};
        }

        try {
            data.Reset();
            data.Sql = "select max(ListID) as id from tbl_list";
            std::unique_ptr<TSQLiteTable> table = data.Query();
            if (table->RowCount() > 0)
                copy->ListID = table->ColumnText(table->ColumnIndex("id"));
        } catch (const std::exception&) {
            // The row is stored; only this program writes, so its own last row id is the same number.
            copy->ListID = std::to_string(data.Database().LastInsertRowId());
        }

        entry->Companies.push_back(copy);
        entry->IdlePages = 0;
        // The running loader must not append the row a second time.
        if (entry->LoaderRunning)
            entry->SkipOnLoad.insert(copy->ListID);
        if (!AllStoredInMemory(*entry)) {
            ++entry->ListCount;
        } else {
            entry->ListCount = static_cast<std::int32_t>(entry->Companies.size());
        }
        entry->AddDate = LocalNowSeconds();

        data.Reset();
        data.SetWhere("ID=" + entry->ID);
        data.AddInteger("listcount", entry->ListCount);
        data.AddFloat("adddate", static_cast<double>(entry->AddDate));
        data.UpdateTable("tbl_key");  // a failure leaves the column behind until the next company of the keyword
    }
    if (OnCompanyStored)
        OnCompanyStored(*this, entry->KeyStr, copy);
    return {TStoreOutcome::Stored, {}};
}

void TKeyListInfo::HoldCursorBack(TKeyData& entry, const TComPanyInfo& record) {
    std::int32_t* cursor = CursorOfEngine(entry, record.ResultEngine);
    if (cursor == nullptr || record.ResultPage < 0)
        return;  // found elsewhere than on a result page: nothing to go back to
    std::int32_t& lost = entry.LostPage[static_cast<std::size_t>(record.ResultEngine)];
    lost = lost < 0 ? record.ResultPage : std::min(lost, record.ResultPage);
    *cursor = std::min(*cursor, lost);
    // Written even when the entry's cursor was not past the page: the row may hold an ended engine's later cursor.
    TDataManager& data = *dataManager_;
    data.Reset();
    data.SetWhere("ID=" + entry.ID);
    data.AddInteger(PageColumnOfEngine(record.ResultEngine), *cursor);
    data.UpdateTable("tbl_key");  // failing too, it leaves the end of the engine to write it (SaveEngineCursor)
}

void TKeyListInfo::DeleteCompany(const std::string& keyword, const std::string& listId) {
    const auto entry = Find(keyword);
    if (!entry || !IsDecimalId(listId))
        return;
    std::lock_guard lock(dataManager_->Lock());
    TDataManager& data = *dataManager_;
    data.Reset();
    data.SetWhere("ListID=" + listId);
    if (!data.DeleteFrom("tbl_list"))
        return;  // the row is still there, so the record stays listed
    const bool rowDeleted = sqlite3_changes(data.Database().Handle()) > 0;

    auto& companies = entry->Companies;
    companies.erase(std::remove_if(companies.begin(), companies.end(),
                                   [&](const auto& company) { return company->ListID == listId; }),
                    companies.end());
    if (entry->LoaderRunning)
        entry->SkipOnLoad.insert(listId);  // the loader may hold the row from before the delete
    if (!AllStoredInMemory(*entry)) {
        if (rowDeleted && entry->ListCount > 0)
            --entry->ListCount;
    } else {
        entry->ListCount = static_cast<std::int32_t>(companies.size());
    }
}

bool TKeyListInfo::DeleteRows(const TKeyData& entry) {
    TDataManager& data = *dataManager_;
    data.Reset();
    data.SetWhere("keyid=" + entry.ID);
    const bool companiesDeleted = data.DeleteFrom("tbl_list");
    data.Reset();
    data.SetWhere("id=" + entry.ID);
    const bool keyDeleted = data.DeleteFrom("tbl_key");
    return companiesDeleted && keyDeleted;
}

bool TKeyListInfo::DeleteKey(const std::string& keyword) {
    const auto entry = Find(keyword);
    if (!entry)
        return false;
    bool deleted;
    {
        std::lock_guard lock(dataManager_->Lock());
        deleted = DeleteRows(*entry);
    }
    Remove(entry);
    return deleted;
}

bool TKeyListInfo::ClearAll() {
    bool deleted = true;
    {
        std::lock_guard lock(dataManager_->Lock());
        for (const auto& entry : keys_)
            deleted = DeleteRows(*entry) && deleted;
    }
    for (const auto& entry : keys_) {
        if (entry->LoaderRunning)
            entry->Detached.store(true);
    }
    index_.clear();
    keys_.clear();
    return deleted;
}

bool TKeyListInfo::SavePageCursor(const std::string& keyword, std::int32_t page, int engine) {
    const auto entry = Find(keyword);
    if (!entry || entry->IdlePages >= kMaxIdlePages)
        return false;
    std::int32_t* cursor = CursorOfEngine(*entry, engine);
    if (cursor == nullptr)
        return false;
    const std::int32_t lost = entry->LostPage[static_cast<std::size_t>(engine)];
    if (lost >= 0)
        page = std::min(page, lost);
    {
        std::lock_guard lock(dataManager_->Lock());
        TDataManager& data = *dataManager_;
        data.Reset();
        data.SetWhere("ID=" + entry->ID);
        *cursor = page;
        data.AddInteger(PageColumnOfEngine(engine), page);
        data.UpdateTable("tbl_key");
    }
    ++entry->IdlePages;
    return true;
}

TCursorSave TKeyListInfo::SaveEngineCursor(const std::string& keyword, std::int32_t page, int engine) {
    const auto entry = Find(keyword);
    const char* column = PageColumnOfEngine(engine);
    if (!entry || column == nullptr)
        return {page, false};
    std::int32_t& lost = entry->LostPage[static_cast<std::size_t>(engine)];
    if (lost >= 0)
        page = std::min(page, lost);
    lost = -1;
    std::lock_guard lock(dataManager_->Lock());
    TDataManager& data = *dataManager_;
    data.Reset();
    data.SetWhere("KeyStr='" + QuoteSql(ToStoredText(entry->KeyStr)) + "'");
    data.AddInteger(column, page);
    return {page, data.UpdateTable("tbl_key")};
}

void TKeyListInfo::SetKeyStatus(const std::string& keyword, const std::string& text) {
    if (const auto entry = Find(keyword))
        entry->StatusText = text;
}

TKeyData* TKeyListInfo::FindKey(const std::string& keyword) {
    return Find(keyword).get();
}

std::optional<TCompanyList> TKeyListInfo::GetCompanies(const std::string& keyword) {
    const auto entry = Find(keyword);
    if (!entry)
        return std::nullopt;
    std::lock_guard lock(dataManager_->Lock());
    return entry->Companies;
}

bool TKeyListInfo::ExportKey(const std::string& keyword, const std::string& fileName, const TExportChoice& choice) {
    const auto entry = Find(keyword);
    if (!entry)
        return false;
    std::vector<std::string> lines;
    {
        std::lock_guard lock(dataManager_->Lock());
        if (entry->Companies.empty())
            return false;
        lines = BuildExportLines(entry->Companies, choice);
    }
    return choice.TextFormat ? WriteTextExport(fileName, lines) : SaveAsSpreadsheet(fileName, lines);
}

std::int64_t TKeyListInfo::TotalCount() const {
    std::int64_t total = 0;
    for (const auto& entry : keys_)
        total += entry->ListCount;
    return total;
}

TKeyData* TKeyListInfo::RequestKeyData(const std::string& keyword, std::uint8_t purpose) {
    const auto entry = Find(keyword);
    if (!entry)
        return nullptr;
    if (entry->LoadStarted)
        return entry.get();
    entry->PendingPurpose = purpose;
    if (purpose != PurposeQuery)
        LoadCompanies(keyword);
    return nullptr;
}

void TKeyListInfo::LoadCompanies(const std::string& keyword) {
    const auto entry = Find(keyword);
    if (!entry || entry->LoaderRunning)
        return;  // a running loader raises OnKeyLoaded when it ends
    bool empty;
    {
        std::lock_guard lock(dataManager_->Lock());
        empty = entry->Companies.empty();
    }
    // Records stored before the first load (a late company of a task of a deleted keyword), or the rows a failed
    // load got to, do not make the stored ones loaded: the rest are loaded beside them.
    if (empty || !AllStoredInMemory(*entry)) {
        StartLoader(entry);
        return;
    }
    RaiseKeyLoaded(entry->KeyStr);
}

void TKeyListInfo::StartLoader(const std::shared_ptr<TKeyData>& entry) {
    auto loader = std::make_unique<TDataThread>(entry->KeyStr, entry, dataManager_);
    TDataThread* started = loader.get();
    entry->LoadStarted = true;
    entry->LoaderRunning = true;
    entry->LoadError.clear();
    {
        std::lock_guard lock(dataManager_->Lock());
        entry->SkipOnLoad.clear();
        for (const auto& company : entry->Companies)
            entry->SkipOnLoad.insert(company->ListID);
    }
    // The callback runs on the UI thread while the loader still exists, so `started` is valid there.
    loader->SetOnTerminate([this, alive = std::weak_ptr<int>(alive_), entry, started] {
        if (alive.expired())
            return;
        LoaderEnded(entry, started->Keyword(), started->Error());
    });
    TWorkerThread::Start(std::move(loader));
}

void TKeyListInfo::LoaderEnded(const std::shared_ptr<TKeyData>& entry, const std::string& keyword,
                               const std::string& error) {
    entry->LoaderRunning = false;
    entry->LoadError = error;
    {
        std::lock_guard lock(dataManager_->Lock());
        entry->SkipOnLoad.clear();
    }
    // A deleted entry, or a keyword deleted and added again meanwhile, has nobody waiting for this load.
    if (entry->Detached.load() || Find(keyword) != entry)
        return;
    RaiseKeyLoaded(keyword);
}

std::uint8_t TKeyListInfo::TakePendingPurpose(const std::string& keyword) {
    const auto entry = Find(keyword);
    if (!entry)
        return PurposeShow;
    return std::exchange(entry->PendingPurpose, PurposeShow);
}

std::vector<TKeyData*> TKeyListInfo::Keys() const {
    std::vector<TKeyData*> entries;
    entries.reserve(keys_.size());
    for (const auto& entry : keys_)
        entries.push_back(entry.get());
    return entries;
}

}  // namespace vexo
