// vexo-cli export: writes a keyword's companies to a file exactly as the program's export does, with the field
// chooser's boxes given as options. It only reads the store (read-only connection, no writer lock).
#include <string>
#include <string_view>
#include <vector>

#include "app/cli_commands.h"
#include "store/Export.h"
#include "store/KeyListInfo.h"
#include "text/Gbk.h"

namespace vexo::cli {

namespace {

constexpr std::string_view kUsage =
    "usage: vexo-cli export KEYWORD FILE [--format txt|xls] [--fields name,mob,qq,email,url]";
constexpr std::string_view kExportFailed = "数据导出失败！";

// Sets the boxes named in the comma-separated list and clears the others; false, after an error line, for an
// unknown name. An empty list ticks no box.
bool ParseFields(std::string_view list, TExportChoice& choice) {
    choice.Name = choice.Mob = choice.QQ = choice.EMail = choice.WebUrl = false;
    choice.Addr = false;  // the chooser unticks the address before every export
    if (list.empty())
        return true;
    std::size_t from = 0;
    while (true) {
        const std::size_t end = list.find(',', from);
        const std::string_view name = list.substr(from, end == std::string_view::npos ? end : end - from);
        if (name == "name")
            choice.Name = true;
        else if (name == "mob")
            choice.Mob = true;
        else if (name == "qq")
            choice.QQ = true;
        else if (name == "email")
            choice.EMail = true;
        else if (name == "url")
            choice.WebUrl = true;
        else {
            Fail("unknown field '" + OneLine(name) + "' (fields: name, mob, qq, email, url)");
            return false;
        }
        if (end == std::string_view::npos)
            return true;
        from = end + 1;
    }
}

}  // namespace

int RunExport(TCommandArgs args) {
    TExportChoice choice;  // the chooser's initial boxes: spreadsheet, every visible field
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--format" || arg == "--fields") {
            if (i + 1 == args.size())
                return Fail(std::string(arg) + " needs a value");
            const std::string_view value = args[++i];
            if (arg == "--fields") {
                if (!ParseFields(value, choice))
                    return kExitUsage;
            } else if (value == "txt" || value == "xls") {
                choice.TextFormat = value == "txt";
            } else {
                return Fail("unknown format '" + OneLine(value) + "' (formats: txt, xls)");
            }
        } else if (arg.starts_with("--")) {
            return Fail("unknown option '" + OneLine(arg) + "'");
        } else {
            positional.emplace_back(arg);
        }
    }
    if (positional.size() != 2 || positional[0].empty() || positional[1].empty())
        return Fail(kUsage);
    if (!IsValidUtf8(positional[0]))
        return Fail("the keyword is not valid UTF-8");
    const std::string& keyword = positional[0];
    const std::string& fileName = positional[1];

    // Without a database no keyword is known: the export fails like one for an unknown keyword.
    if (!TKeyListInfo::DatabaseExists())
        return Fail(kExportFailed);
    return WithStoreForReading([&](TKeyListInfo& store) {
        TKeyData* entry = store.FindKey(keyword);
        if (entry == nullptr)
            return Fail(std::string(kExportFailed) + " (no keyword '" + OneLine(keyword) + "')");
        if (!LoadKeywordCompanies(store, *entry))
            return kExitUsage;
        if (!store.ExportKey(keyword, fileName, choice))
            return Fail(kExportFailed);
        return kExitOk;
    });
}

}  // namespace vexo::cli
