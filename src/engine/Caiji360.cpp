#include "engine/Caiji360.h"

#include <exception>
#include <memory>
#include <unordered_set>
#include <utility>

#include "engine/Hosts.h"
#include "net/PageText.h"
#include "text/CaseFold.h"
#include "text/Global.h"

namespace vexo {

namespace {

constexpr std::string_view kHttpScheme = "http://";

constexpr std::string_view k360OwnDomains[] = {k360SearchDomain, k360CompanyDomain};

// The address an anchor links to: from its first "http://" up to the next double quote. Case-sensitive, so an
// upper-case scheme yields nothing; so does an address without a closing double quote.
std::optional<std::string> AnchorAddress(std::string_view anchor) {
    const std::size_t start = anchor.find(kHttpScheme);
    if (start == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t quote = anchor.find('"', start);
    if (quote == std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(anchor.substr(start, quote - start));
}

bool ContainsAny(std::string_view text, std::span<const std::string_view> parts) {
    for (std::string_view part : parts) {
        if (text.find(part) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

// Addresses in order of finding; one that equals an earlier one ignoring letter case is dropped.
class TAddressList {
  public:
    void Add(std::string address) {
        if (folded_.insert(CaseFold(address)).second) {
            addresses_.push_back(std::move(address));
        }
    }
    std::vector<std::string> Take() { return std::move(addresses_); }

  private:
    std::vector<std::string> addresses_;
    std::unordered_set<std::string> folded_;
};

}  // namespace

const TAnchorEngine k360Engine{.Engine = kEngine360,
                               .SiteVariant = TSiteVariant::So360,
                               .HttpSettings = HttpPreset::Caiji360,
                               .DefaultSearchHost = kDefault360SearchHost,
                               .QueryStart = "/s?ie=utf-8&q=",
                               .PageKey = "&pn=",
                               .PromotedHost = k360ClickHost,
                               .PromotedPath = k360PayPath,
                               .OwnDomains = k360OwnDomains};

std::string PromotedAnchorPattern(const TAnchorEngine& engine, std::string_view searchHost) {
    // The host goes into the pattern verbatim: its dots stay unescaped, as do the path's "." and "?".
    return "<a[^>]*http://" + std::string(engine.PromotedHost.empty() ? searchHost : engine.PromotedHost) +
           std::string(engine.PromotedPath) + "[^>]*>(?:.|[\\r\\n])*?</a>";
}

std::vector<std::string> ReadAnchorResultPage(std::string_view pageText, std::string_view promotedPattern,
                                              std::span<const std::string_view> ownDomains, TRegExp& regExp) {
    TAddressList addresses;
    for (const std::string& anchor : regExp.AllMatches(promotedPattern, pageText)) {
        if (auto address = AnchorAddress(anchor)) {
            addresses.Add(std::move(*address));
        }
    }
    // The promoted anchors lie on the engine's own domains, so this pass never takes them a second time.
    for (const std::string& anchor : regExp.AllMatches(kOutsideLinkPattern, pageText)) {
        if (ContainsAny(anchor, ownDomains)) {
            continue;
        }
        if (auto address = AnchorAddress(anchor)) {
            addresses.Add(std::move(*address));
        }
    }
    return addresses.Take();
}

TAnchorCollector::TAnchorCollector(const TAnchorEngine& engine, TWindowHandle window, std::string keyword,
                                   std::int32_t startPage, TCollectorSettings settings)
    : TResultCollector(std::move(window), std::move(keyword), startPage, engine.Engine, engine.DefaultSearchHost,
                       std::move(settings)),
      engine_(engine),
      promotedPattern_(PromotedAnchorPattern(engine, settings_.SearchHost)),
      http_(engine.HttpSettings()) {}

void TAnchorCollector::Execute() {
    while (!Terminated()) {
        if (!PausePoint() || !WaitGate(Gates().ResultPage)) {
            return;
        }
        std::optional<std::vector<std::string>> addresses;
        try {
            addresses = ReadPage(pageCursor_.load());
        } catch (const EHttpError&) {
            // The run ends on a page that cannot be fetched; the cursor still names it for the next run.
            return;
        }
        if (!addresses) {
            return;  // stopped during the fetch: the page was not read, so the cursor stays on it
        }
        ++pageCursor_;
        StartSiteThreads(*addresses);
        SendPageDone();
    }
}

std::string TAnchorCollector::PageAddress(std::int32_t page) const {
    std::string address =
        std::string(kHttpScheme) + settings_.SearchHost + std::string(engine_.QueryStart) + UrlEncode(keyword_, false);
    if (page > 0) {
        address += std::string(engine_.PageKey) + std::to_string(page + 1);
    }
    return address;
}

std::optional<std::vector<std::string>> TAnchorCollector::ReadPage(std::int32_t page) {
    const std::string address = PageAddress(page);
    buffer_.clear();
    SendStatus(std::string(kStatusGettingResults));
    http_.Get(address, buffer_);
    if (Terminated()) {
        return std::nullopt;
    }
    if (buffer_.empty()) {
        return std::vector<std::string>();
    }
    const std::string pageText = DecodePageText(buffer_, false);
    buffer_.clear();
    SendStatus(std::string(kStatusAnalysingResults));
    return ReadAnchorResultPage(pageText, promotedPattern_, engine_.OwnDomains, regExp_);
}

void TAnchorCollector::StartSiteThreads(const std::vector<std::string>& addresses) {
    try {
        for (const std::string& address : addresses) {
            if (!PausePoint()) {
                return;
            }
            SendStatus(std::string(kStatusEnteringSites));
            if (!WaitGate(Gates().Site)) {
                return;
            }
            auto thread =
                std::make_unique<TCaijiPageCon>(engine_.SiteVariant, window_, keyword_, address, settings_.IcpHost);
            if (!StartSiteThread(std::move(thread))) {
                return;
            }
        }
    } catch (const std::exception&) {
        // A site thread that cannot be made drops the rest of this page's addresses; the run goes on.
    }
}

TCaiji360::TCaiji360(TWindowHandle window, std::string keyword, std::int32_t startPage, TCollectorSettings settings)
    : TAnchorCollector(k360Engine, std::move(window), std::move(keyword), startPage, std::move(settings)) {}

}  // namespace vexo
