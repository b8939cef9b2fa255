// vexo-cli config: makes and reads the encrypted remote configuration file, and tells what the program would do
// with one.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli_commands.h"
#include "text/Gbk.h"
#include "update/RemoteConfig.h"
#include "update/desutil.h"

namespace vexo::cli {

namespace {

constexpr std::string_view kUsage =
    "usage: vexo-cli config encode [--utf8] PLAIN.xml ENVELOPE... | decode [--utf8] ENVELOPE PLAIN.xml... | "
    "check ENVELOPE";
constexpr std::string_view kUtf8Option = "--utf8";

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        Fail("cannot create " + path + ": " + std::strerror(errno));
        return false;
    }
    const bool wrote = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !wrote) {
        Fail("cannot write " + path + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

// Arguments after the subcommand: an optional --utf8, then pairs of paths (from, to).
bool PathPairs(TCommandArgs args, bool& utf8, std::vector<std::pair<std::string, std::string>>& pairs) {
    std::vector<std::string> paths;
    utf8 = false;
    for (const char* arg : args) {
        if (std::string_view(arg) == kUtf8Option)
            utf8 = true;
        else
            paths.emplace_back(arg);
    }
    if (paths.empty() || paths.size() % 2 != 0)
        return false;
    for (std::size_t i = 0; i < paths.size(); i += 2)
        pairs.emplace_back(paths[i], paths[i + 1]);
    return true;
}

int Encode(TCommandArgs args) {
    bool utf8 = false;
    std::vector<std::pair<std::string, std::string>> pairs;
    if (!PathPairs(args, utf8, pairs))
        return Fail(kUsage);
    for (const auto& [plainPath, envelopePath] : pairs) {
        std::optional<std::string> plain = ReadFileBytes(plainPath);
        if (!plain)
            return kExitUsage;
        if (utf8) {
            if (!IsValidUtf8(*plain))
                return Fail(plainPath + " is not UTF-8 text");
            *plain = Utf8ToGbk(*plain);
        }
        if (plain->size() > 0xFFFFFFFFULL)
            return Fail(plainPath + " is too large for a configuration file");
        if (!WriteFileBytes(envelopePath, DesEncodeStream(*plain, kConfigKey)))
            return kExitUsage;
    }
    return kExitOk;
}

int Decode(TCommandArgs args) {
    bool utf8 = false;
    std::vector<std::pair<std::string, std::string>> pairs;
    if (!PathPairs(args, utf8, pairs))
        return Fail(kUsage);
    for (const auto& [envelopePath, plainPath] : pairs) {
        const std::optional<std::string> envelope = ReadFileBytes(envelopePath);
        if (!envelope)
            return kExitUsage;
        std::string plain;
        if (!DesDecodeStream(*envelope, plain, kConfigKey))
            return Fail(envelopePath + " is no configuration envelope (size or stated length do not fit)");
        if (utf8)
            plain = GbkToUtf8(plain);
        if (!WriteFileBytes(plainPath, plain))
            return kExitUsage;
    }
    return kExitOk;
}

int Check(TCommandArgs args) {
    if (args.size() != 1)
        return Fail(kUsage);
    const std::string envelopePath = args[0];
    const std::optional<std::string> envelope = ReadFileBytes(envelopePath);
    if (!envelope)
        return kExitUsage;
    std::string plain;
    if (envelope->empty())
        return Fail(envelopePath + ": empty file, the program counts it as a failed download");
    if (!DesDecodeStream(*envelope, plain, kConfigKey))
        return Fail(envelopePath +
                    ": not a configuration envelope (size or stated length do not fit), the program "
                    "counts it as a failed download");
    const TRemoteConfigResult result = ReadRemoteConfigXml(plain, ReadUpdaterState(ProgramDir()), true);
    if (!result.Parsed)
        return Fail(envelopePath +
                    ": decoded text holds no complete XML element, the program counts it as a "
                    "failed download");
    const TUpDateInfo& info = result.Info;
    std::printf(
        "{\"version_info\":%s,\"update\":%s,\"forced\":%s,\"package\":%s,\"package_crc\":%u,"
        "\"updater_needed\":%s,\"updater_outdated\":%s,\"updater\":%s,\"updater_crc\":%u}\n",
        result.HasVersionInfo ? "true" : "false", info.HasUpdate ? "true" : "false",
        info.ForceUpdate ? "true" : "false", JsonString(info.UpdateUrl).c_str(), static_cast<unsigned>(info.UpdateCrc),
        info.NeedUpdater ? "true" : "false", result.ReplaceUpdater ? "true" : "false",
        JsonString(info.UpdaterUrl).c_str(), static_cast<unsigned>(info.UpdaterCrc));
    return kExitOk;
}

}  // namespace

int RunConfig(TCommandArgs args) {
    if (args.empty())
        return Fail(kUsage);
    const std::string_view action = args[0];
    const TCommandArgs rest = args.subspan(1);
    if (action == "encode")
        return Encode(rest);
    if (action == "decode")
        return Decode(rest);
    if (action == "check")
        return Check(rest);
    return Fail(kUsage);
}

}  // namespace vexo::cli
