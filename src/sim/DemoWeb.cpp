// The demonstration web: twelve advertisers per keyword, made from fixed tables, each listed once by every engine
// over the first three result pages (each engine in its own order and with its own paid entries, so the engines
// overlap as real ones do).
#include "sim/DemoWeb.h"

#include <array>

#include "engine/Hosts.h"
#include "text/Gbk.h"
#include "update/RemoteConfig.h"
#include "update/desutil.h"

namespace vexo::sim {

namespace {

constexpr int kSitesPerKeyword = 12;
constexpr int kEntriesPerPage = kSitesPerKeyword / kDemoPagesPerEngine;
static_assert(kEntriesPerPage * kDemoPagesPerEngine == kSitesPerKeyword);

struct TTrade {
    const char* City;
    const char* AreaCode;
    const char* Suffix;      // the end of the company names
    const char* DomainStem;  // site "www.<stem><number><tld>"
    std::array<const char*, 3> Streets;
};

constexpr TTrade kTrades[] = {
    {"广州", "020", "电子科技有限公司", "gzdz", {"天河区体育西路", "番禺区市桥街", "白云区机场路"}},
    {"上海", "021", "网络科技有限公司", "shwl", {"浦东新区张江路", "徐汇区漕溪北路", "闵行区虹梅路"}},
    {"深圳", "0755", "机械设备有限公司", "szjx", {"宝安区福永街道", "龙岗区坂田街道", "南山区科技园"}},
};
static_assert(std::size(kTrades) == std::size(kDemoKeywords));

constexpr std::array<const char*, kSitesPerKeyword> kNameStems = {"华星", "恒通", "新锐", "科达", "联创", "广信",
                                                                  "金鹏", "宏图", "永泰", "佳和", "瑞丰", "明辉"};
constexpr std::array<const char*, kSitesPerKeyword> kMobilePrefixes = {"139", "138", "137", "136", "135", "158",
                                                                       "159", "186", "189", "188", "150", "187"};
constexpr const char* kTopLevels[] = {".cn", ".com.cn", ".com", ".net"};
constexpr const char* kSurnames[] = {"王", "李", "张", "陈", "刘", "黄"};
constexpr const char* kTitles[] = {"先生", "女士", "经理"};

// Every fifth advertiser gives no mobile number: it is visited but never stored.
bool HasMobile(int number) {
    return number % 5 != 4;
}

std::string Padded(long long value, std::size_t digits) {
    std::string text = std::to_string(value);
    return text.size() >= digits ? text : std::string(digits - text.size(), '0') + text;
}

std::string MetaCharset(bool gbk) {
    return gbk ? "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">"
               : "<meta charset=\"utf-8\">";
}

std::string Nav() {
    return "<div class=\"nav\"><a href=\"/\">网站首页</a> | <a href=\"/about.html\">关于我们</a> | "
           "<a href=\"/contact.html\">联系我们</a></div>\r\n";
}

std::string QQLink(const std::string& qq) {
    return "<a href=\"http://wpa.qq.com/msgrd?v=3&uin=" + qq + "&site=qq&menu=yes\">" + qq + "</a>";
}

std::string Footer(const TSimCompany& company) {
    std::string footer =
        "<div class=\"footer\">\r\nCopyright &copy; " + company.Name + " 版权所有<br/>\r\n电话：" + company.Landline;
    if (!company.Mobile.empty())
        footer += "&nbsp;&nbsp;手机：" + company.Mobile;
    if (!company.Email.empty())
        footer += "&nbsp;&nbsp;邮箱：" + company.Email;
    if (!company.QQ.empty())
        footer += "&nbsp;&nbsp;QQ：" + QQLink(company.QQ);
    footer += "<br/>\r\n";
    if (!company.Address.empty())
        footer += "地址：" + company.Address + "\r\n";
    return footer + "</div>\r\n";
}

TSimResponse Page(const std::string& html, bool gbk) {
    return gbk ? TSimResponse::Html(Utf8ToGbk(html), "gbk") : TSimResponse::Html(html);
}

std::string ContactBody(const TSimCompany& company, TContactLayout layout, int number) {
    const std::string person =
        std::string(kSurnames[number % std::size(kSurnames)]) + kTitles[number % std::size(kTitles)];
    std::string body;
    switch (layout) {
        case TContactLayout::Table: {
            auto row = [&body](const std::string& caption, const std::string& value) {
                if (!value.empty())
                    body += "<tr><td class=\"caption\">" + caption + "</td><td>" + value + "</td></tr>\r\n";
            };
            body += "<table class=\"contact\" border=\"0\" cellpadding=\"4\">\r\n";
            row("公司名称：", company.Name);
            row("联 系 人：", person);
            row("联系电话：", company.Landline);
            row("手　　机：", company.Mobile);
            row("电子邮箱：",
                company.Email.empty() ? "" : "<a href=\"mailto:" + company.Email + "\">" + company.Email + "</a>");
            row("在线QQ：", company.QQ.empty() ? "" : QQLink(company.QQ));
            row("公司地址：", company.Address);
            body += "</table>\r\n";
            break;
        }
        case TContactLayout::BreakList: {
            body += "<div class=\"contact\">\r\n" + company.Name + "<br/>\r\n联系人：" + person + "<br/>\r\n电话：" +
                    company.Landline + "<br/>\r\n";
            if (!company.Mobile.empty())
                body += "手机：" + company.Mobile + "<br/>\r\n";
            if (!company.Email.empty())
                body += "邮箱：" + company.Email + "<br/>\r\n";
            if (!company.QQ.empty())
                body += "QQ：" + QQLink(company.QQ) + "<br/>\r\n";
            if (!company.Address.empty())
                body += "地址：" + company.Address + "<br/>\r\n";
            body += "</div>\r\n";
            break;
        }
        case TContactLayout::Footer:
            body +=
                "<form class=\"message\" action=\"/message.html\">留言：<textarea name=\"text\"></textarea>"
                "<input type=\"submit\" value=\"提交\"></form>\r\n";
            break;
        case TContactLayout::Paragraphs:
            break;
    }
    return body;
}

}  // namespace

TDemoWeb::TDemoWeb(TSimWeb& web) : web_(web), engines_(web) {
    for (std::size_t k = 0; k < std::size(kDemoKeywords); ++k) {
        const std::size_t first = sites_.size();
        for (int number = 0; number < kSitesPerKeyword; ++number)
            AddSite(k, number);
        const std::string keyword(kDemoKeywords[k]);
        for (int page = 0; page < kDemoPagesPerEngine; ++page) {
            std::vector<TSimEntry> baidu;
            std::vector<TSimEntry> sogou;
            std::vector<TSimEntry> so360;
            for (int slot = 0; slot < kEntriesPerPage; ++slot) {
                // Baidu in order, Sogou backwards, 360 every third: each lists all twelve once.
                const int b = page * kEntriesPerPage + slot;
                const int s = kSitesPerKeyword - 1 - b;
                const int q = page + slot * kDemoPagesPerEngine;
                baidu.push_back({sites_[first + b].Company, b % 2 == 0});
                sogou.push_back({sites_[first + s].Company, s % 3 == 0});
                so360.push_back({sites_[first + q].Company, q % 2 == 1});
            }
            engines_.SetPage(0, keyword, page, std::move(baidu));
            engines_.SetPage(1, keyword, page, std::move(sogou));
            engines_.SetPage(2, keyword, page, std::move(so360));
        }
    }
    TSimResponse envelope;
    envelope.body = DesEncodeStream(ConfigXml(), kConfigKey);
    envelope.headers.emplace_back("Content-Type", "text/plain");
    web_.Serve(kDemoConfigHost, kRemoteConfigPath, std::move(envelope));
}

void TDemoWeb::AddSite(std::size_t keywordIndex, int number) {
    const TTrade& trade = kTrades[keywordIndex];
    const long long serial = static_cast<long long>(keywordIndex) * 100 + number;
    const std::string domain = trade.DomainStem + Padded(number + 1, 2) + kTopLevels[number % std::size(kTopLevels)];
    TSimCompany company;
    company.Host = "www." + domain;
    company.Name = std::string(trade.City) + (number % 3 == 2 ? "市" : "") + kNameStems[number] + trade.Suffix;
    company.Landline = std::string(trade.AreaCode) + "-6" + Padded(1'000'000 + serial * 113, 7);
    if (HasMobile(number))
        company.Mobile = kMobilePrefixes[number] + Padded(12'340'000 + serial * 37, 8);
    if (number % 2 == 0)
        company.Email = "sales@" + domain;
    else if (number % 3 == 0)
        company.Email = "service@" + domain;
    if (number % 3 == 0)
        company.QQ = std::to_string(800'000'000 + serial * 7919);
    company.Address = std::string(trade.City) + "市" + trade.Streets[number % trade.Streets.size()] +
                      std::to_string(10 + number * 7) + "号";

    TDemoSite site;
    site.Keyword = kDemoKeywords[keywordIndex];
    site.Layout = static_cast<TContactLayout>(number % 4);
    site.Gbk = site.Layout == TContactLayout::Table || site.Layout == TContactLayout::BreakList;
    site.Company = engines_.AddCompany(std::move(company));
    sites_.push_back(site);
    ServeLayout(site, number);
}

// The paragraph layout is the one TSimEngines serves; the others replace its home and contact pages.
void TDemoWeb::ServeLayout(const TDemoSite& site, int number) {
    if (site.Layout == TContactLayout::Paragraphs)
        return;
    const TSimCompany& company = engines_.Company(site.Company);
    const std::string head = "<html><head>" + MetaCharset(site.Gbk) + "<title>";
    const std::string footer = site.Layout == TContactLayout::Footer ? Footer(company) : std::string();
    const std::string home = head + company.Name + "-首页</title></head><body>\r\n" + Nav() + "<p>" + company.Name +
                             "欢迎您！</p>\r\n" + footer + "</body></html>";
    const std::string contact = head + "联系我们-" + company.Name + "</title></head><body>\r\n" + Nav() +
                                "<h2>联系我们</h2>\r\n" + ContactBody(company, site.Layout, number) + footer +
                                "</body></html>";
    web_.Serve(company.Host, "/", Page(home, site.Gbk));
    web_.Serve(company.Host, "/contact.html", Page(contact, site.Gbk));
}

std::string TDemoWeb::ClientConfig() {
    return "[config]\r\nfirst=1\r\n\r\n[hosts]\r\n" + std::string(kHostKeyBaidu) + "=" + kSimBaiduHost + "\r\n" +
           std::string(kHostKeySogou) + "=" + kSimSogouHost + "\r\n" + std::string(kHostKeySo360) + "=" + kSimSoHost +
           "\r\n" + std::string(kHostKeyIcp) + "=" + kSimIcpHost + "\r\n" + std::string(kHostKeyConfig) + "=" +
           kDemoConfigHost + "\r\n";
}

std::string TDemoWeb::ConfigXml() {
    // An empty version element: nothing newer to fetch, and no fallback version check either.
    return "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<config>\r\n  <version/>\r\n</config>\r\n";
}

}  // namespace vexo::sim
