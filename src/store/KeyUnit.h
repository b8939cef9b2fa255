// TKeyData: one search keyword in memory, its progress cursors and the companies collected under it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "store/UntObject.h"

namespace vexo {

class TTaskCtl;

// The companies of a keyword; records are shared with the results grid, which may keep them after removal.
using TCompanyList = std::vector<std::shared_ptr<TComPanyInfo>>;

// What the main window does once a keyword's companies are in memory (TKeyData::PendingPurpose).
enum TLoadPurpose : std::uint8_t {
    PurposeShow = 0,    // show them in the grid
    PurposeStart = 3,   // show them and start the collection
    PurposeExport = 4,  // open the export field chooser
    PurposeQuery = 5,   // nothing; a request with this purpose never starts a load
};

// One keyword. Owned by the store (TKeyListInfo); a running loader shares it, so an entry deleted while it loads
// lives on, detached, until the loader has ended. Every field except Companies and SkipOnLoad is used on the UI
// thread only; those two are guarded by the store lock (TDataManager::Lock).
struct TKeyData {
    std::string ID = "0";           // tbl_key row id as decimal text; "0" until known
    std::string KeyStr;             // the keyword as stored
    std::int32_t ListCount = 0;     // number of companies of the keyword
    std::int64_t AddDate = 0;       // creation or last new company, local wall-clock seconds since 1970
    std::int32_t LastPage = 0;      // Baidu page cursor
    std::int32_t SgLastPage = 0;    // Sogou page cursor
    std::int32_t S360LastPage = 0;  // 360 page cursor
    bool LoadStarted = false;       // the first load of the companies has started; never cleared
    std::uint8_t PendingPurpose = PurposeShow;
    TCompanyList Companies;       // loaded rows in query order, then the records stored while collecting
    TTaskCtl* TaskCtl = nullptr;  // set and cleared by the main window; never owned here
    std::string StatusText;       // last progress text while the keyword is not the selected one
    std::uint8_t IdlePages = 0;   // page-cursor saves since the last new company
    // Per engine (0 Baidu, 1 Sogou, 2 360), the lowest result page of a company that could not be stored since the
    // engine last ended; -1 when none. No cursor of the engine is saved past it, so the next run comes back to it.
    std::array<std::int32_t, 3> LostPage{-1, -1, -1};

    // Loader state. LoaderRunning is true from the start of a load until its termination handler ran.
    bool LoaderRunning = false;
    // Set when the entry was deleted while its loader ran: the loader appends nothing more.
    std::atomic<bool> Detached{false};
    // ListIDs the running loader must not append: stored (already in Companies) or deleted since it started.
    std::unordered_set<std::string> SkipOnLoad;
    // Message of the error that ended the last load early; empty when it read every row.
    std::string LoadError;
};

// Texts and numbers as the two tables hold them. Memory and database are both UTF-8, so a text converts
// unchanged; one that is not valid UTF-8 converts to an empty text, in both directions.
std::string ToStoredText(const std::string& text);
std::string FromStoredText(const std::string& stored);

// The decimal integer the whole text spells (an optional sign, then digits), or 0 for anything else: NULL
// (empty), "3.5", "abc", a value outside the type's range.
std::int32_t StoredInt32(const std::string& text);
std::int64_t StoredInt64(const std::string& text);

// A contact list as stored: each value followed by CR LF.
std::string StoredListText(const std::vector<std::string>& values);

// The values of a stored contact list: trimmed at both ends, "|" taken as a line break, then one value per line
// (CR, LF or CR LF); a break at the very end makes no extra value, one between two breaks an empty value.
std::vector<std::string> SplitStoredList(const std::string& stored);

// Column of tbl_key holding an engine's page cursor (0 Baidu, 1 Sogou, 2 360); nullptr for another number.
const char* PageColumnOfEngine(int engine);

// Local wall-clock time now, as whole seconds since 1970-01-01 00:00 counted as if it were universal time.
std::int64_t LocalNowSeconds();

}  // namespace vexo
