// The result loader: two queries under the store lock, the table read outside it, one record per row appended
// under the lock.
#include "store/UDataThread.h"

#include <exception>
#include <mutex>
#include <utility>

namespace vexo {

namespace {

constexpr const char* kUnknownError = "unknown error";

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

    for (; !rows->AtEnd(); rows->NextRow()) {
        auto record = std::make_shared<TComPanyInfo>();
        record->ListID = rows->ColumnText(listIdColumn);
        // Stored names are normalised again, as every name that enters a record is.
        record->SetComName(FromStoredText(rows->ColumnText(nameColumn)));
        record->Addr = FromStoredText(rows->ColumnText(addrColumn));
        record->weburl = FromStoredText(rows->ColumnText(weburlColumn));
        record->source = FromStoredText(rows->OptionalColumnText(sourceColumn));
        record->ispay = StoredInt32(rows->OptionalColumnText(ispayColumn)) != 0 ? 1 : 0;
        record->renzheng = StoredInt32(rows->OptionalColumnText(renzhengColumn)) != 0 ? 1 : 0;
        // Stored lists are taken as they are, without the duplicate test of AddTel and its siblings.
        record->Tel = SplitStoredList(rows->ColumnText(telColumn));
        record->Mob = SplitStoredList(rows->ColumnText(mobColumn));
        record->EMail = SplitStoredList(rows->ColumnText(emailColumn));
        record->qq = SplitStoredList(rows->OptionalColumnText(qqColumn));

        std::lock_guard lock(data.Lock());
        if (entry_->Detached.load())
            return;
        if (entry_->SkipOnLoad.count(record->ListID) != 0)
            continue;
        entry_->Companies.push_back(std::move(record));
    }
}

}  // namespace vexo
