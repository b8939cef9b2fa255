// The result loader: two queries under the store lock, the table read outside it, records appended under the lock
// a batch at a time.
#include "store/UDataThread.h"

#include <exception>
#include <mutex>
#include <utility>

namespace vexo {

namespace {

constexpr const char* kUnknownError = "unknown error";
constexpr std::size_t kAppendBatch = 256;

}  // namespace

TDataThread::TDataThread(std::string keyword, std::shared_ptr<TKeyData> entry,
                         std::shared_ptr<TDataManager> dataManager)
    : keyword_(std::move(keyword)), entry_(std::move(entry)), dataManager_(std::move(dataManager)) {}

void TDataThread::Execute() {
    // An error ends the load; the rows appended so far stay and the termination callback reports the end as usual.
    try {
        Load();
    } catch (const std::exception& error) {
        error_ = error.what();
    } catch (...) {
        error_ = kUnknownError;
    }
}

void TDataThread::Load() {
    TDataManager& data = *dataManager_;
    std::string id;
    {
        std::lock_guard lock(data.Lock());
        data.Reset();
        data.Sql = "select ID from tbl_key where keystr='" + QuoteSql(ToStoredText(keyword_)) + "'";
        std::unique_ptr<TSQLiteTable> table = data.Query();
        if (table && table->RowCount() > 0)
            id = table->ColumnText(table->ColumnIndex("ID"));
    }

    std::unique_ptr<TSQLiteTable> rows;
    {
        std::lock_guard lock(data.Lock());
        data.Reset();
        // Without a keyword row the id is empty and the statement invalid: the query raises and the load ends.
        data.Sql = "select * from tbl_list where keyid=" + id;
        rows = data.Query();
    }
    if (!rows || rows->RowCount() == 0)
        return;

    const int listIdColumn = rows->ColumnIndex("listid");
    const int nameColumn = rows->ColumnIndex("Comname");
    const int addrColumn = rows->ColumnIndex("addr");
    const int weburlColumn = rows->ColumnIndex("weburl");
    // A reader does not upgrade the schema: the columns added by later versions may be missing and read as empty.
    const int sourceColumn = rows->FindColumn("source");
    const int ispayColumn = rows->FindColumn("ispay");
    const int renzhengColumn = rows->FindColumn("renzheng");
    const int telColumn = rows->ColumnIndex("Tel");
    const int mobColumn = rows->ColumnIndex("Mob");
    const int emailColumn = rows->ColumnIndex("EMail");
    const int qqColumn = rows->FindColumn("qq");

    // Records are made outside the lock and appended a batch at a time, so the lock is taken once per batch.
    std::vector<std::shared_ptr<TComPanyInfo>> batch;
    batch.reserve(kAppendBatch);
    auto append = [&] {
        std::lock_guard lock(data.Lock());
        if (entry_->Detached.load())
            return false;
        for (auto& record : batch)
            if (entry_->SkipOnLoad.count(record->ListID) == 0)
                entry_->Companies.push_back(std::move(record));
        batch.clear();
        return true;
    };
    for (; !rows->AtEnd(); rows->NextRow()) {
        auto record = std::make_shared<TComPanyInfo>();
        record->ListID = rows->ColumnRef(listIdColumn);
        // Stored names are normalised again, as every name that enters a record is.
        record->SetComName(FromStoredText(rows->ColumnRef(nameColumn)));
        record->Addr = FromStoredText(rows->ColumnRef(addrColumn));
        record->weburl = FromStoredText(rows->ColumnRef(weburlColumn));
        record->source = FromStoredText(rows->ColumnRef(sourceColumn));
        record->ispay = StoredInt32(rows->ColumnRef(ispayColumn)) != 0 ? 1 : 0;
        record->renzheng = StoredInt32(rows->ColumnRef(renzhengColumn)) != 0 ? 1 : 0;
        // Stored lists are taken as they are, without the duplicate test of AddTel and its siblings.
        record->Tel = SplitStoredList(rows->ColumnRef(telColumn));
        record->Mob = SplitStoredList(rows->ColumnRef(mobColumn));
        record->EMail = SplitStoredList(rows->ColumnRef(emailColumn));
        record->qq = SplitStoredList(rows->ColumnRef(qqColumn));
        batch.push_back(std::move(record));
        if (batch.size() == kAppendBatch && !append())
            return;
    }
    if (!batch.empty())
        append();
}

}  // namespace vexo
