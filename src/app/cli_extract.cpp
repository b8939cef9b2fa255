// vexo-cli extract: the contact rules on a saved page, the resulting record as
// one JSON object.
#include <cstdio>
#include <optional>
#include <string>

#include "app/cli_commands.h"
#include "engine/ContactRules.h"
#include "net/PageText.h"
#include "store/UntObject.h"

namespace vexo::cli {

namespace {

constexpr std::string_view kRuleOption = "--rule";
constexpr std::string_view kNameOption = "--name";
constexpr std::string_view kFirstTitleRule = "first-title";
constexpr std::string_view kCompanyWordRule = "company-word";
constexpr std::string_view kEndOfOptions = "--";

std::optional<TTitleRule> ParseRule(std::string_view text) {
    if (text == kFirstTitleRule)
        return TTitleRule::FirstTitle;
    if (text == kCompanyWordRule)
        return TTitleRule::CompanyWord;
    return std::nullopt;
}

std::string RecordJson(bool ready, const TComPanyInfo& record) {
    std::string out = "{\"ready\":";
    out += ready ? "true" : "false";
    out += ",\"name\":" + JsonString(record.GetComName());
    out += ",\"tel\":" + JsonStringArray(record.Tel);
    out += ",\"mob\":" + JsonStringArray(record.Mob);
    out += ",\"email\":" + JsonStringArray(record.EMail);
    out += ",\"qq\":" + JsonStringArray(record.qq);
    out += ",\"addr\":" + JsonString(record.Addr);
    out += "}";
    return out;
}

}  // namespace

int RunExtract(TCommandArgs args) {
    TTitleRule rule = TTitleRule::FirstTitle;
    std::optional<std::string> name;
    std::optional<std::string> path;
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (options && arg == kEndOfOptions) {
            options = false;
        } else if (options && (arg == kRuleOption || arg == kNameOption)) {
            if (i + 1 >= args.size())
                return Fail("option " + std::string(arg) + " needs a value");
            std::string_view value = args[++i];
            if (arg == kNameOption) {
                name = std::string(value);
            } else if (auto parsed = ParseRule(value)) {
                rule = *parsed;
            } else {
                return Fail("unknown rule '" + std::string(value) + "' (first-title or company-word)");
            }
        } else if (options && arg.size() > 1 && arg.front() == '-') {
            return Fail("unknown option '" + std::string(arg) + "'");
        } else if (!path) {
            path = std::string(arg);
        } else {
            return Fail("extract takes one FILE");
        }
    }
    if (!path)
        return Fail(
            "usage: vexo-cli extract [--rule first-title|company-word] "
            "[--name TEXT] FILE");

    std::optional<std::string> body = ReadFileBytes(*path);
    if (!body)
        return kExitUsage;
    std::string pageText = DecodePageText(*body, true);

    TComPanyInfo record;
    if (name)
        record.SetComName(*name);
    TContactRules rules;
    rules.TakeNameFromTitle(pageText, record, rule);
    bool ready = rules.ExtractContacts(pageText, record);

    std::string json = RecordJson(ready, record);
    std::fwrite(json.data(), 1, json.size(), stdout);
    std::fputc('\n', stdout);
    return kExitOk;
}

}  // namespace vexo::cli
