// TKeyListInfo: the keyword and company store. Keeps the keywords with their page cursors and each keyword's
// companies in memory and in the tables tbl_key and tbl_list of Data/users, decides which collected companies
// are stored (those with a mobile number, once in the whole database by name) and counts the result pages that
// bring no new company.
//
// Threads: every operation and every event runs on the UI thread. The only other thread is the result loader
// (TDataThread), which the store starts and which shares the data manager under its lock. Events are raised with
// the store lock released, so a handler may call the store again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/DataManager.h"
#include "store/Export.h"
#include "store/KeyUnit.h"
#include "store/WriterLock.h"

namespace vexo {

// How the store opens the database.
enum class TStoreAccess {
    // Takes the writer lock (EWriterLockHeld when another program holds it), creates the Data folder and, in a
    // file without tables, both tables; adds missing later columns and the company-name index.
    ReadWrite,
    // Opens an existing file read-only, with no lock and no schema step, so a reader never waits for, blocks or
    // changes a writer: for the commands that only read. A file without the keyword table reads as no keywords.
    ReadOnly,
};

// What became of a collected company handed to AddCompany.
enum class TStoreOutcome : std::uint8_t {
    Stored,   // stored; OnCompanyStored was raised
    Skipped,  // not to be stored: no mobile number, stored already, or the keyword is not in the list
    Failed,   // the database failed a statement (busy beyond the time-out, full, read-only, I/O): the company is lost
};

struct TAddCompanyResult {
    TStoreOutcome Outcome = TStoreOutcome::Skipped;
    std::string Error;  // the database's reason for a failure
};

// What SaveEngineCursor wrote.
struct TCursorSave {
    std::int32_t Page = 0;  // the cursor written: the ended collector's, or the page of a lost company before it
    bool Written = false;   // false when the keyword is unknown or the database failed the statement
};

class TKeyListInfo {
  public:
    using TKeyLoadedEvent = std::function<void(TKeyListInfo& store, const std::string& keyword)>;
    using TKeyAddedEvent = std::function<void(TKeyListInfo& store, TKeyData& entry)>;
    using TCompanyStoredEvent = std::function<void(TKeyListInfo& store, const std::string& keyword,
                                                   const std::shared_ptr<TComPanyInfo>& record)>;

    // True when Data/users exists under AppDir(); a reader has nothing to read without it.
    static bool DatabaseExists();

    // Opens Data/users under AppDir(). Raises EWriterLockHeld when another program writes to it (ReadWrite),
    // std::runtime_error when the lock file cannot be made, ESQLiteException when the file cannot be opened or read.
    explicit TKeyListInfo(TStoreAccess access = TStoreAccess::ReadWrite);
    // Closes the database (a running loader keeps it open until it ends), then frees the entries; a running
    // loader's end raises nothing.
    ~TKeyListInfo();
    TKeyListInfo(const TKeyListInfo&) = delete;
    TKeyListInfo& operator=(const TKeyListInfo&) = delete;

    // Every operation takes the keyword in any letter case and works on its entry; for a keyword that is not in
    // the list it does nothing and returns an empty result.

    // Reads every keyword of tbl_key in id order and raises OnKeyAdded for each. Raises ESQLiteException.
    void LoadKeys();
    // The entry of the keyword; a new one, stored when `persist` is set, for a keyword not in the list (OnKeyAdded).
    // A failed insert leaves the new entry's ID "0". What the list holds for the keyword once OnKeyAdded returned:
    // nullptr when the handler deleted it, and for an empty keyword or one that is not valid UTF-8.
    TKeyData* AddKey(const std::string& keyword, bool persist);
    // ID of the keyword's tbl_key row as text, also for a keyword not in the list; "0" when it has none.
    // Raises ESQLiteException.
    std::string FindKeyId(const std::string& keyword);
    // Stores a copy of a collected company unless it lacks a mobile number or a company of that name is stored
    // already (under any keyword); then raises OnCompanyStored with the store's copy. Raises nothing: when the
    // database fails the look-up or the insert, the result is Failed, and the cursor of the record's engine
    // (ResultEngine) is set back to its ResultPage in the entry and the database and saved no further until the
    // engine ends (SaveEngineCursor), so the next run collects the company again. The caller stops the task.
    TAddCompanyResult AddCompany(const std::string& keyword, const TComPanyInfo& record);
    // Deletes the company row with that ListID (decimal digits only) and, once the row is gone, the record from
    // the keyword's list. The listcount column is corrected by the next AddCompany of the keyword.
    void DeleteCompany(const std::string& keyword, const std::string& listId);
    // Deletes the keyword's companies and row, and the entry. False when a statement failed (the entry is
    // removed all the same) and for an unknown keyword.
    bool DeleteKey(const std::string& keyword);
    // DeleteKey for every keyword, first to last. False when a statement failed.
    bool ClearAll();
    // Saves a collector's page cursor (engine 0 Baidu, 1 Sogou, 2 360) in the entry and the database, never past
    // the page of a lost company (LostPage). False, saving nothing, after three saves without a new company of the
    // keyword in between: the caller stops the task.
    bool SavePageCursor(const std::string& keyword, std::int32_t page, int engine);
    // Writes an ended engine's cursor to the keyword's row only, never past the page of a company of the engine
    // that was lost; the entry's cursor and idle count stay. The lost page is forgotten then: the engine's site
    // threads have ended, and a new start of the engine begins at or before it.
    TCursorSave SaveEngineCursor(const std::string& keyword, std::int32_t page, int engine);
    void SetKeyStatus(const std::string& keyword, const std::string& text);
    TKeyData* FindKey(const std::string& keyword);
    // A snapshot of the keyword's companies; nothing for a keyword not in the list.
    std::optional<TCompanyList> GetCompanies(const std::string& keyword);
    // Writes the keyword's companies to the file with the chosen fields and format (Export.h). The lines are built
    // under the store lock, since a loader may still append to the list, and written after it. False, writing
    // nothing, for an unknown keyword or one without companies in memory, and for more rows than a spreadsheet
    // holds; false when the file cannot be written completely (what was written stays).
    bool ExportKey(const std::string& keyword, const std::string& fileName, const TExportChoice& choice);
    // Sum of ListCount over all keywords.
    std::int64_t TotalCount() const;
    // The entry once a load of its companies has started; otherwise records the purpose, starts a load unless
    // the purpose is PurposeQuery and returns nullptr (OnKeyLoaded follows).
    TKeyData* RequestKeyData(const std::string& keyword, std::uint8_t purpose);
    // Raises OnKeyLoaded at once when the companies are in memory; otherwise starts a loader (one per keyword at
    // a time) whose end raises it. Needs the current dispatcher.
    void LoadCompanies(const std::string& keyword);
    // The pending purpose, cleared.
    std::uint8_t TakePendingPurpose(const std::string& keyword);

    // The entries in list order.
    std::vector<TKeyData*> Keys() const;
    TDataManager& DataManager() { return *dataManager_; }

    TKeyLoadedEvent OnKeyLoaded;
    TKeyAddedEvent OnKeyAdded;
    TCompanyStoredEvent OnCompanyStored;

  private:
    void CreateMissingTables();
    void UpgradeSchema();
    void EnsureNameIndex();
    std::shared_ptr<TKeyData> Find(const std::string& keyword) const;
    void Append(std::shared_ptr<TKeyData> entry);
    // Removes the entry from the list; a loader still running for it is told to drop its results.
    void Remove(const std::shared_ptr<TKeyData>& entry);
    // The two delete statements of a keyword; the store lock is held by the caller.
    bool DeleteRows(const TKeyData& entry);
    std::string FindKeyIdLocked(const std::string& keyword);
    void StartLoader(const std::shared_ptr<TKeyData>& entry);
    void LoaderEnded(const std::shared_ptr<TKeyData>& entry, const std::string& keyword, const std::string& error);
    void RaiseKeyLoaded(const std::string& keyword);
    void RaiseKeyAdded(TKeyData& entry);
    // After a lost company: the entry's and the database's cursor of the record's engine go back to its page.
    // The store lock is held by the caller.
    void HoldCursorBack(TKeyData& entry, const TComPanyInfo& record);

    const TStoreAccess access_;
    std::unique_ptr<TWriterLock> writerLock_;  // first in, last out: held while the database is open for writing
    std::vector<std::shared_ptr<TKeyData>> keys_;
    // Case-folded keyword -> entry; the first entry of a folded text when the table holds several.
    std::unordered_map<std::string, std::shared_ptr<TKeyData>> index_;
    std::shared_ptr<TDataManager> dataManager_;  // shared with running loaders
    // Loader termination handlers hold a weak reference: a store gone before its loader ended is not touched.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace vexo
