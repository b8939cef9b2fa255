// vexo-cli: the keyword and company store from the command line (keywords, add, delete, companies), on the same
// store and database folder as the program (AppDir, so VEXO_HOME selects it). add and delete write, under the
// writer lock; keywords and companies only read, on a read-only connection.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/cli_commands.h"
#include "platform/EventLoop.h"
#include "platform/WorkerThread.h"
#include "store/KeyListInfo.h"
#include "text/Gbk.h"

namespace vexo::cli {

namespace {

constexpr std::chrono::milliseconds kWorkerEndWait{2000};
constexpr const char* kUnknownDate = "1970-01-01 00:00:00";

// Runs `body` on a store opened for writing (EWriterLockHeld while another program writes). Opening errors become
// an error line and exit status 2.
template <class Body>
int WithStoreForWriting(Body body) {
    try {
        TKeyListInfo store(TStoreAccess::ReadWrite);
        store.LoadKeys();
        return body(store);
    } catch (const std::exception& error) {
        return Fail(error.what());
    }
}

// "YYYY-MM-DD hh:mm:ss" of wall-clock seconds since 1970 (no zone conversion: they count local time already).
std::string FormatWallClock(std::int64_t seconds) {
    const auto time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    char text[64];
    if (gmtime_r(&time, &parts) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts) == 0)
        return kUnknownDate;
    return text;
}

void PrintKeyword(const TKeyData& entry) {
    std::printf(
        "{\"id\":%lld,\"keyword\":%s,\"count\":%d,\"lastpage\":%d,\"sglastpage\":%d,\"s360lastpage\":%d,"
        "\"adddate\":%s}\n",
        static_cast<long long>(StoredInt64(entry.ID)), JsonString(entry.KeyStr).c_str(), entry.ListCount,
        entry.LastPage, entry.SgLastPage, entry.S360LastPage, JsonString(FormatWallClock(entry.AddDate)).c_str());
}

void PrintCompany(const TComPanyInfo& company) {
    std::printf(
        "{\"listid\":%lld,\"name\":%s,\"addr\":%s,\"weburl\":%s,\"tel\":%s,\"mob\":%s,\"email\":%s,\"qq\":%s,"
        "\"source\":%s,\"ispay\":%d,\"renzheng\":%d}\n",
        static_cast<long long>(StoredInt64(company.ListID)), JsonString(company.GetComName()).c_str(),
        JsonString(company.Addr).c_str(), JsonString(company.weburl).c_str(), JsonStringArray(company.Tel).c_str(),
        JsonStringArray(company.Mob).c_str(), JsonStringArray(company.EMail).c_str(),
        JsonStringArray(company.qq).c_str(), JsonString(company.source).c_str(), company.ispay, company.renzheng);
}

// The single KEYWORD argument of a command, checked; nothing (after an error line) when it is unusable.
std::optional<std::string> KeywordArgument(TCommandArgs args, std::string_view usage) {
    if (args.size() != 1) {
        Fail("usage: vexo-cli " + std::string(usage));
        return std::nullopt;
    }
    std::string keyword = args[0];
    if (keyword.empty()) {
        Fail("the keyword is empty");
        return std::nullopt;
    }
    if (!IsValidUtf8(keyword)) {
        Fail("the keyword is not valid UTF-8");
        return std::nullopt;
    }
    return keyword;
}

}  // namespace

int WithStoreForReading(const std::function<int(TKeyListInfo&)>& body) {
    try {
        if (!TKeyListInfo::DatabaseExists())
            return kExitOk;
        TKeyListInfo store(TStoreAccess::ReadOnly);
        store.LoadKeys();
        return body(store);
    } catch (const std::exception& error) {
        return Fail(error.what());
    }
}

bool LoadKeywordCompanies(TKeyListInfo& store, TKeyData& entry) {
    auto loop = std::make_shared<TEventLoop>();
    SetCurrentDispatcher(loop);
    store.OnKeyLoaded = [&loop](TKeyListInfo&, const std::string&) { loop->Quit(); };
    store.LoadCompanies(entry.KeyStr);
    loop->Run();
    store.OnKeyLoaded = nullptr;
    // The loader frees itself after its termination callback; let it go before the store and the process end.
    loop->Close();
    WaitForWorkers(kWorkerEndWait);
    SetCurrentDispatcher(nullptr);
    if (!entry.LoadError.empty()) {
        Fail("cannot load the companies of '" + entry.KeyStr + "': " + entry.LoadError);
        return false;
    }
    return true;
}

int RunKeywords(TCommandArgs args) {
    if (!args.empty())
        return Fail("usage: vexo-cli keywords");
    return WithStoreForReading([](TKeyListInfo& store) {
        for (const TKeyData* entry : store.Keys())
            PrintKeyword(*entry);
        return kExitOk;
    });
}

int RunAdd(TCommandArgs args) {
    const auto keyword = KeywordArgument(args, "add KEYWORD");
    if (!keyword)
        return kExitUsage;
    return WithStoreForWriting([&](TKeyListInfo& store) {
        TKeyData* entry = store.AddKey(*keyword, true);
        if (entry == nullptr || entry->ID == "0")
            return Fail("cannot store the keyword '" + *keyword + "': the database refused the change");
        PrintKeyword(*entry);
        return kExitOk;
    });
}

int RunDelete(TCommandArgs args) {
    const auto keyword = KeywordArgument(args, "delete KEYWORD");
    if (!keyword)
        return kExitUsage;
    return WithStoreForWriting([&](TKeyListInfo& store) {
        if (store.FindKey(*keyword) == nullptr)
            return Fail("no keyword '" + *keyword + "'");
        if (!store.DeleteKey(*keyword))
            return Fail("cannot delete the keyword '" + *keyword + "': the database refused the change");
        return kExitOk;
    });
}

int RunCompanies(TCommandArgs args) {
    const auto keyword = KeywordArgument(args, "companies KEYWORD");
    if (!keyword)
        return kExitUsage;
    return WithStoreForReading([&](TKeyListInfo& store) {
        TKeyData* entry = store.FindKey(*keyword);
        if (entry == nullptr)
            return Fail("no keyword '" + *keyword + "'");
        if (!LoadKeywordCompanies(store, *entry))
            return kExitUsage;
        for (const auto& company : store.GetCompanies(entry->KeyStr).value_or(TCompanyList()))
            PrintCompany(*company);
        return kExitOk;
    });
}

}  // namespace vexo::cli
