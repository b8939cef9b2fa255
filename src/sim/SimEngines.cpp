#include "sim/SimEngines.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "engine/Notify.h"
#include "text/Gbk.h"

namespace vexo::sim {

namespace {

// The raw value of a query key, or nothing.
std::optional<std::string> QueryValue(std::string_view pathAndQuery, std::string_view key) {
    const std::size_t question = pathAndQuery.find('?');
    if (question == std::string_view::npos)
        return std::nullopt;
    std::string_view query = pathAndQuery.substr(question + 1);
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const std::size_t equals = pair.find('=');
        if (pair.substr(0, equals) == key) {
            return std::string(equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1));
        }
        if (amp == std::string_view::npos)
            break;
        query.remove_prefix(amp + 1);
    }
    return std::nullopt;
}

// The keyword of a query value: percent-decoded GBK bytes, as UTF-8.
std::string DecodeKeyword(std::string_view encoded) {
    std::string bytes;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        unsigned value = 0;
        if (encoded[i] == '%' && i + 2 < encoded.size() &&
            std::from_chars(encoded.data() + i + 1, encoded.data() + i + 3, value, 16).ptr == encoded.data() + i + 3) {
            bytes += static_cast<char>(value);
            i += 2;
        } else {
            bytes += encoded[i] == '+' ? ' ' : encoded[i];
        }
    }
    return GbkToUtf8(bytes);
}

int ToInt(const std::optional<std::string>& text) {
    int value = 0;
    if (text)
        std::from_chars(text->data(), text->data() + text->size(), value);
    return value;
}

// The redirection of a click or link address: to what follows "url=".
TSimResponse FollowUrlParameter(const TSimRequest& request) {
    const std::size_t pos = request.pathAndQuery.find("url=");
    return pos == std::string::npos ? TSimResponse::Status(404)
                                    : TSimResponse::Redirect(request.pathAndQuery.substr(pos + 4));
}

const char* QueryKeyOf(int engine) {
    switch (engine) {
        case 0:
            return "wd";
        case 1:
            return "query";
        default:
            return "q";
    }
}

}  // namespace

TSimEngines::TSimEngines(TSimWeb& web) : web_(web) {
    web_.Handle(kSimBaiduHost, "/s", [this](const TSimRequest& r) { return ResultPage(0, r); });
    web_.Handle(kSimSogouHost, "/web", [this](const TSimRequest& r) { return ResultPage(1, r); });
    web_.Handle(kSimSoHost, "/s", [this](const TSimRequest& r) { return ResultPage(2, r); });
    web_.Handle(kSimBaiduHost, "/baidu.php", FollowUrlParameter);
    web_.Handle(kSimBaiduHost, "/link", FollowUrlParameter);
    web_.Handle("e.so.com", "/search/eclk", FollowUrlParameter);
    web_.Handle(kSimSogouHost, "/bill_cpc", FollowUrlParameter);
}

TSimEngines::~TSimEngines() {
    web_.Stop();
}

std::size_t TSimEngines::AddCompany(TSimCompany company) {
    const std::string domain = company.Host.starts_with("www.") ? company.Host.substr(4) : company.Host;
    web_.Serve(company.Host, "/",
               TSimResponse::Html("<html><head><title>" + company.Name +
                                  "-首页</title></head><body>\r\n"
                                  "<div class=nav><a href=\"/\">首页</a> <a href=\"/contact.html\">联系我们</a>"
                                  "</div>\r\n<p>欢迎光临</p></body></html>"));
    std::string contact =
        "<html><head><title>联系我们-" + company.Name + "</title></head><body>\r\n<p>" + company.Name + "</p>\r\n";
    if (!company.Landline.empty())
        contact += "<p>电话：" + company.Landline + "</p>\r\n";
    if (!company.Mobile.empty())
        contact += "<p>手机：" + company.Mobile + "</p>\r\n";
    if (!company.Email.empty())
        contact += "<p>E-mail：" + company.Email + "</p>\r\n";
    if (!company.QQ.empty()) {
        contact += "<p><a href=\"http://wpa.qq.com/msgrd?v=3&uin=" + company.QQ + "&site=qq\">QQ交谈</a></p>\r\n";
    }
    if (!company.Address.empty())
        contact += "<p>地址：" + company.Address + "<br/>\r\n</p>";
    web_.Serve(company.Host, "/contact.html", TSimResponse::Html(contact + "</body></html>"));
    web_.Serve(kSimIcpHost, "/yuming/" + domain + "/",
               TSimResponse::Html("<table><tr><th>主办单位</th><td>" + company.Name +
                                  "</td></tr>\r\n<tr><th>网站名称</th><td>官网</td></tr></table>"));
    std::lock_guard lock(mutex_);
    companies_.push_back(std::move(company));
    return companies_.size() - 1;
}

const TSimCompany& TSimEngines::Company(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return companies_.at(index);
}

void TSimEngines::SetPage(int engine, const std::string& keyword, int page, std::vector<TSimEntry> entries) {
    std::lock_guard lock(mutex_);
    pages_[{engine, keyword, page}] = std::move(entries);
}

std::vector<TSimEngines::TPageRequest> TSimEngines::PageRequests(int engine) const {
    std::lock_guard lock(mutex_);
    std::vector<TPageRequest> requests;
    for (const auto& [e, request] : pageRequests_) {
        if (e == engine)
            requests.push_back(request);
    }
    return requests;
}

std::vector<TSimRequest> TSimEngines::ClickRequests(int engine) const {
    switch (engine) {
        case 0: {
            std::vector<TSimRequest> all;
            for (const TSimRequest& request : web_.Requests()) {
                if (request.host == kSimBaiduHost && (request.path == "/baidu.php" || request.path == "/link")) {
                    all.push_back(request);
                }
            }
            return all;
        }
        case 1:
            return web_.RequestsTo(kSimSogouHost, "/bill_cpc");
        default:
            return web_.RequestsTo("e.so.com", "/search/eclk");
    }
}

TSimResponse TSimEngines::ResultPage(int engine, const TSimRequest& request) {
    const std::string keyword = DecodeKeyword(QueryValue(request.pathAndQuery, QueryKeyOf(engine)).value_or(""));
    int page = 0;
    switch (engine) {
        case 0:
            page = ToInt(QueryValue(request.pathAndQuery, "pn")) / 10;
            break;
        case 1:
            page = std::max(ToInt(QueryValue(request.pathAndQuery, "page")) - 1, 0);
            break;
        default:
            page = std::max(ToInt(QueryValue(request.pathAndQuery, "pn")) - 1, 0);
            break;
    }
    std::vector<TSimEntry> entries;
    {
        std::lock_guard lock(mutex_);
        if (auto found = pages_.find({engine, keyword, page}); found != pages_.end()) {
            entries = found->second;
        }
        pageRequests_.emplace_back(engine, TPageRequest{keyword, page, request.time});
    }
    return TSimResponse::Html(PageHtml(engine, entries));
}

std::string TSimEngines::PageHtml(int engine, const std::vector<TSimEntry>& entries) const {
    std::string html = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>搜索结果</title></head><body>\r\n";
    std::lock_guard lock(mutex_);
    int serial = 0;
    if (engine == 0) {
        html += "<div id=\"wrapper\"><div id=\"content_left\">\r\n";
        for (const TSimEntry& entry : entries) {
            const TSimCompany& company = companies_.at(entry.Company);
            const std::string site = "http://" + company.Host + "/";
            ++serial;
            if (entry.Paid) {
                html += "<div id=\"300" + std::to_string(serial) +
                        "\" class=\"ec\" data-click=\"{'rsv':" + std::to_string(serial) +
                        "}\">\r\n<h3><a href=\"http://www.baidu.com/baidu.php?url=" + site + "\" target=\"_blank\">" +
                        company.Name + "</a></h3>\r\n<div class=\"cert\" data-renzheng='{\"title\":\"" + company.Name +
                        "\",\"level\":\"1\"}'></div>\r\n<span class=\"label\">推广</span></div>\r\n";
            } else {
                const std::string link = "http://www.baidu.com/link?url=" + site;
                html +=
                    "<div class=\"result c-container\" srcid=\"1599\">\r\n<h3><a href=\"" + link + "\">" +
                    company.Name + "官网</a></h3>\r\n<div class=\"c-tools\" data-tools='{\"title\":\"" + company.Name +
                    "官网\",\"url\":\"" + link +
                    "\"}'></div>\r\n<a class=\"m\" href=\"http://cache.baiducontent.com/c?m=1\">百度快照</a></div>\r\n";
            }
        }
        html += "</div><div id=\"page\"><a href=\"/s?pn=10\">下一页</a></div></div>\r\n";
    } else {
        const std::string click =
            engine == 1 ? "http://www.sogou.com/bill_cpc?v=1&url=" : "http://e.so.com/search/eclk?p=1&url=";
        const std::string own = engine == 1 ? "http://www.sogou.com/web?query=more" : "http://www.so.com/s?q=more";
        html += "<div id=\"main\"><ul class=\"results\">\r\n";
        for (const TSimEntry& entry : entries) {
            const TSimCompany& company = companies_.at(entry.Company);
            const std::string site = "http://" + company.Host + "/";
            html += "<li><h3><a href=\"" + (entry.Paid ? click + site : site) + "\" target=\"_blank\">" + company.Name +
                    "</a></h3></li>\r\n";
        }
        html += "<li><a href=\"" + own + "\">相关搜索</a></li>\r\n</ul></div>\r\n";
    }
    // Real result pages are large; the Baidu collector counts a body of 1500 bytes or fewer as failed.
    html += "<!-- " + std::string(1600, '.') + " -->\r\n</body></html>";
    return html;
}

TScopedGateTimings::TScopedGateTimings(TGateTiming resultPage, TGateTiming site) {
    for (int engine : {kEngineBaidu, kEngineSogou, kEngine360}) {
        TEngineGates& gates = GatesOfEngine(engine);
        gates.ResultPage.SetTiming(resultPage);
        gates.Site.SetTiming(site);
        gates.ResultPage.ResetStamp();
        gates.Site.ResetStamp();
    }
}

TScopedGateTimings::~TScopedGateTimings() {
    BaiduGates().ResultPage.SetTiming(kBaiduPageGate);
    BaiduGates().Site.SetTiming(kBaiduSiteGate);
    SogouGates().ResultPage.SetTiming(kSogouPageGate);
    SogouGates().Site.SetTiming(kSogouSiteGate);
    So360Gates().ResultPage.SetTiming(k360PageGate);
    So360Gates().Site.SetTiming(k360SiteGate);
}

}  // namespace vexo::sim
