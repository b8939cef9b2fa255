#include "engine/CaijiBaidu.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>

#include "engine/CaijiPageCon.h"
#include "engine/Hosts.h"
#include "net/PageText.h"
#include "text/Gbk.h"
#include "text/Global.h"

namespace vexo {

namespace {

constexpr std::string_view kCookieHeader = "Cookie";
constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kFullWidthColon = "：";

// Markers inside the entries.
constexpr std::string_view kRenzhengMarker = "data-renzheng=";
constexpr std::string_view kDataToolsMarker = "data-tools=";
constexpr std::string_view kHintMarker = "hint-data=";
constexpr std::string_view kObjectEnd = "}";
constexpr std::string_view kObjectStart = "{";
constexpr std::string_view kQuotedTitle = "title\":\"";
constexpr std::string_view kQuotedUrl = "url\":\"";
constexpr std::string_view kQuotedLabel = "label\":\"";
constexpr std::string_view kSingleQuotedTitle = "title:'";
constexpr std::string_view kSingleQuotedUrl = "url:'";
constexpr std::string_view kHrefMarker = "href=\"";

// The anchor to the advertising click address. The dots of the domain and of the path stay unescaped, and the "?"
// makes the path's last letter optional: the pattern is kept exactly as the system always matched it.
const std::string& AdAnchorPattern() {
    static const std::string pattern =
        "<a[^>]*" + std::string(kBaiduWebDomain) + std::string(kBaiduPayPath) + "?[^>]*>(?:.|[\\r\\n])*?</a>";
    return pattern;
}

// Removes the quotes and full-width colons an entry's title or link may carry, then trims.
std::string CleanEntryText(std::string_view text) {
    std::string cleaned;
    cleaned.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        if (text.substr(pos, kFullWidthColon.size()) == kFullWidthColon) {
            pos += kFullWidthColon.size();
            continue;
        }
        if (text[pos] != '\'' && text[pos] != '"') {
            cleaned += text[pos];
        }
        ++pos;
    }
    return std::string(Trim(cleaned));
}

std::string TextAfterObjectStart(std::string_view object) {
    return TextBetween(kObjectStart, {}, object);
}

// An advertising block: the title of its certification object and the address of its advertising anchor, both
// cleaned. Nothing when the block has no certification object or no anchor with an address.
std::optional<TBaiduEntry> ReadCertifiedBlock(const std::string& block, TRegExp& regExp) {
    if (Trim(block).empty()) {
        return std::nullopt;
    }
    std::string object = TextBetween(kRenzhengMarker, kObjectEnd, block);
    if (object.empty()) {
        return std::nullopt;
    }
    object = TextAfterObjectStart(object);
    const std::string title = object.find('"') != std::string::npos ? TextBetween(kQuotedTitle, "\"", object)
                                                                    : TextBetween(kSingleQuotedTitle, "'", object);
    std::string link;
    const std::vector<std::string> anchors = regExp.AllMatches(AdAnchorPattern(), block);
    if (!anchors.empty()) {
        link = std::string(Trim(TextBetween(kHrefMarker, "\"", anchors.front())));
    }
    if (link.empty()) {
        return std::nullopt;
    }
    return TBaiduEntry{CleanEntryText(link), CleanEntryText(title), 1};
}

// A result block: title and address of its data-tools object, in either quoting; a hint object makes it certified
// and puts its label in place of the title. Nothing when the object is missing or names no address.
std::optional<TBaiduEntry> ReadDataToolsBlock(const std::string& block) {
    if (Trim(block).empty()) {
        return std::nullopt;
    }
    std::string object = TextBetween(kDataToolsMarker, kObjectEnd, block);
    if (object.empty()) {
        return std::nullopt;
    }
    object = TextAfterObjectStart(object);
    TBaiduEntry entry;
    if (object.find('"') == std::string::npos) {
        entry.Title = TextBetween(kSingleQuotedTitle, "'", object);
        entry.Link = TextBetween(kSingleQuotedUrl, "'", object);
    } else {
        entry.Title = TextBetween(kQuotedTitle, "\"", object);
        entry.Link = TextBetween(kQuotedUrl, "\"", object);
    }
    if (entry.Link.empty()) {
        return std::nullopt;
    }
    const std::string hint = TextBetween(kHintMarker, kObjectEnd, block);
    if (!hint.empty()) {
        entry.Title = TextBetween(kQuotedLabel, "\"", hint);
        entry.Certified = 1;
    }
    return entry;
}

std::mutex& ResultPageFileLock() {
    static std::mutex lock;
    return lock;
}

// Replaces the result-page file with the text's lines in GBK, each ending in CR LF. The text goes to a temporary
// file that is then renamed over the old one, so that no reader ever sees half a page; the lock keeps two
// collectors of this process from writing the temporary file at once. A failure leaves the old file and is
// ignored: the file is only a trace of the latest page, and the collection does not depend on it.
void WriteResultPageFile(std::string_view text) {
    std::string lines;
    for (const std::string& line : SplitBodyLines(text)) {
        lines += line;
        lines += kLineBreak;
    }
    const std::string content = Utf8ToGbk(lines);

    namespace fs = std::filesystem;
    const fs::path target{std::string(kResultPageFile)};
    const fs::path temporary{std::string(kResultPageFile) + "." + std::to_string(::getpid()) + ".tmp"};
    std::lock_guard lock(ResultPageFileLock());
    bool written = false;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (out) {
            out.write(content.data(), static_cast<std::streamsize>(content.size()));
            out.close();
            written = !out.fail();
        }
    }
    std::error_code error;
    if (written) {
        fs::rename(temporary, target, error);
    }
    if (!written || error) {
        fs::remove(temporary, error);
    }
}

}  // namespace

std::string BaiduEntryRegion(std::string_view pageText) {
    return TextBetween(kBaiduRegionStart, kBaiduRegionEnd, pageText);
}

std::vector<TBaiduEntry> ReadBaiduCertifiedBlocks(std::string_view region, TRegExp& regExp) {
    std::vector<TBaiduEntry> entries;
    for (const std::string& block : regExp.AllMatches(kBaiduCertifiedBlockPattern, region)) {
        if (std::optional<TBaiduEntry> entry = ReadCertifiedBlock(block, regExp)) {
            entries.push_back(std::move(*entry));
        }
    }
    return entries;
}

std::vector<TBaiduEntry> ReadBaiduDataToolsBlocks(std::string_view region, TRegExp& regExp) {
    std::vector<TBaiduEntry> entries;
    for (const std::string& block : regExp.AllMatches(kBaiduDataToolsBlockPattern, region)) {
        if (std::optional<TBaiduEntry> entry = ReadDataToolsBlock(block)) {
            entries.push_back(std::move(*entry));
        }
    }
    return entries;
}

TCaijiBaidu::TCaijiBaidu(TWindowHandle window, std::string keyword, std::int32_t startPage, TCollectorSettings settings)
    : TResultCollector(std::move(window), std::move(keyword), startPage, kEngineBaidu, kDefaultBaiduSearchHost,
                       std::move(settings)),
      http_(HttpPreset::CaijiBaidu()) {}

void TCaijiBaidu::Execute() {
    while (!Terminated()) {
        if (!PausePoint() || !WaitGate(Gates().ResultPage)) {
            return;
        }
        if (FetchAndProcessPage()) {
            pageCursor_.store(pageCursor_.load() + 1);  // this thread is the only writer
            SendPageDone();
        }
    }
}

std::string TCaijiBaidu::PageUrl(std::int32_t page) const {
    std::string url = "http://" + settings_.SearchHost + "/s?wd=" + UrlEncode(keyword_, false);
    if (page > 0) {
        url += "&pn=" + std::to_string(std::int64_t{page} * 10);
    }
    return url;
}

bool TCaijiBaidu::FetchAndProcessPage() {
    const std::string url = PageUrl(pageCursor_.load());
    buffer_.clear();
    SendStatus(std::string(kStatusGettingResults));
    if (!FetchPage(url) || Terminated() || buffer_.size() <= kBaiduShortPageBytes) {
        return false;
    }
    const std::string text = DecodePageText(buffer_, false);
    buffer_.clear();
    WriteResultPageFile(text);
    SendStatus(std::string(kStatusAnalysingResults));

    const std::string region = BaiduEntryRegion(text);
    StartSites(ReadBaiduCertifiedBlocks(region, regExp_));
    // The page counts from here on, whatever the passes find. The result blocks' site threads get the cookie of
    // this page's request; the advertising blocks' ones above still got that of the page before.
    const std::vector<TBaiduEntry> dataTools = ReadBaiduDataToolsBlocks(region, regExp_);
    keptCookie_ = http_.RequestHeader(kCookieHeader);
    StartSites(dataTools);
    return true;
}

bool TCaijiBaidu::FetchPage(const std::string& url) {
    for (int attempt = 0; attempt < kBaiduPageAttempts; ++attempt) {
        buffer_.clear();
        try {
            http_.Get(url, buffer_);
            return true;
        } catch (const EHttpError&) {
            // A failed attempt is retried on a new connection; the page itself is retried after the gate.
            buffer_.clear();
            http_.Disconnect();
            if (!Sleep(std::chrono::milliseconds(kBaiduPageRetryPauseMs))) {
                return false;
            }
        }
    }
    return false;
}

void TCaijiBaidu::StartSites(const std::vector<TBaiduEntry>& entries) {
    for (const TBaiduEntry& entry : entries) {
        if (!StartSite(entry.Link, entry.Title, entry.Certified)) {
            return;
        }
    }
}

bool TCaijiBaidu::StartSite(std::string link, std::string title, std::uint8_t certified) {
    SendStatus(std::string(kStatusEnteringSites));
    if (!PausePoint()) {
        return false;
    }
    // Built before the gate so that only the start itself follows the gate's opening.
    auto thread = std::make_unique<TCaijiPageCon>(
        TPagePara{window_, keptCookie_, std::move(link), std::move(title), certified, keyword_}, settings_.IcpHost);
    if (!WaitGate(Gates().Site)) {
        return false;
    }
    StartSiteThread(std::move(thread));
    return true;
}

}  // namespace vexo
