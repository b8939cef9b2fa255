// Speed of the contact rules on a realistic company page and on hostile pages built to stall a backtracking engine.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "engine/ContactRules.h"
#include "store/UntObject.h"
#include "text/RegExp.h"

namespace {

using vexo::TComPanyInfo;
using vexo::TContactRules;
using vexo::TTitleRule;

constexpr std::size_t kRealisticPageBytes = 300 * 1024;
constexpr std::size_t kHostilePageBytes = 1024 * 1024;
// The certified-advertiser block of a Baidu result page: the heaviest pattern the parsers run.
constexpr std::string_view kCertifiedBlockPattern = R"(<div id="[^>]*(data-click=)[^>]*>([\s\S]*?)推广)";

// Deterministic pseudo-random numbers, so every run measures the same page.
class TRandom {
  public:
    std::uint32_t Next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    std::size_t Below(std::size_t n) { return Next() % n; }

  private:
    std::uint32_t state_ = 12345;
};

std::string ChineseText(TRandom& random, std::size_t characters) {
    static constexpr std::string_view kPool =
        "的一是在不了有和人这中大为上个国我以要他时来用们生到作地于出就分对成会可主发年动同工也能下过子说产种面而"
        "方后多定行学法所民得经十三之进着等部度家电力里如水化高自二理起小物现实加量都两体制机当使点从业本去把性好应"
        "开它合还因由其些然前外天政四日那社义事平形相全表间样与关各重新线内数正心反你明看原又么利比或但质气第向道命"
        "此变条只没结解问意建月公无系军很情者最立代想已通并提直题党程展五果料象员革位入常文总次品式活设及管特件长求";
    constexpr std::size_t kCharacterBytes = 3;
    std::string text;
    text.reserve(characters * kCharacterBytes + characters / 10);
    for (std::size_t i = 0; i < characters; ++i) {
        std::size_t index = random.Below(kPool.size() / kCharacterBytes);
        text.append(kPool.substr(index * kCharacterBytes, kCharacterBytes));
        if (random.Below(12) == 0)
            text.append("，");
    }
    return text;
}

std::string RealisticCompanyPage() {
    TRandom random;
    std::string page =
        "<!DOCTYPE html>\r\n<html lang=\"zh-CN\">\r\n<head>\r\n<meta charset=\"utf-8\">\r\n"
        "<title>联系我们-广州某某电子科技有限公司_专业电子元器件供应商</title>\r\n"
        "<meta name=\"keywords\" content=\"电子元器件,集成电路,广州电子\">\r\n"
        "<link rel=\"stylesheet\" href=\"/css/style.css\">\r\n<script src=\"/js/jquery.min.js\"></script>\r\n"
        "</head>\r\n<body>\r\n<div class=\"top\"><div class=\"logo\"><img src=\"/images/logo.png\" "
        "alt=\"logo\"></div>\r\n"
        "<ul class=\"nav\">\r\n";
    static constexpr std::string_view kNav[] = {"网站首页", "关于我们", "产品中心", "新闻动态", "成功案例",
                                                "技术支持", "人才招聘", "在线留言", "联系我们"};
    for (std::size_t i = 0; i < std::size(kNav); ++i) {
        page += "<li><a href=\"/list-" + std::to_string(i) + ".html\" title=\"" + std::string(kNav[i]) + "\">" +
                std::string(kNav[i]) + "</a></li>\r\n";
    }
    page += "</ul></div>\r\n<div class=\"main\">\r\n";
    int section = 0;
    while (page.size() < kRealisticPageBytes - 4096) {
        ++section;
        page += "<div class=\"item\"><h3><a href=\"/news/" + std::to_string(section) + ".html\" target=\"_blank\">" +
                ChineseText(random, 12) + "</a></h3>\r\n";
        page += "<p style=\"text-indent:2em\">" + ChineseText(random, 150) + "</p>\r\n";
        page += "<ul class=\"links\">";
        for (int link = 0; link < 6; ++link) {
            page += "<li><a href=\"/product/" + std::to_string(section * 10 + link) + ".html\">" +
                    ChineseText(random, 6) + "</a><span>2023-0" + std::to_string(1 + link) + "-1" +
                    std::to_string(link) + "</span></li>";
        }
        page += "</ul></div>\r\n";
        if (section % 25 == 0) {
            page += "<p>销售热线：020-8" + std::to_string(1000000 + section) + " 手机：1381234" +
                    std::to_string(1000 + section) + " 邮箱：sales" + std::to_string(section) +
                    "@example.com.cn</p>\r\n";
        }
    }
    page +=
        "</div>\r\n<div class=\"contact\"><p>联系人：张经理</p><p>电话：020-12345678</p><p>手机：13812345678</p>"
        "<p>QQ：<a href=\"tencent://message/?uin=12345678&Site=qq&Menu=yes\">12345678</a></p>\r\n"
        "<p>地址：广州市天河区体育西路100号某某大厦1801室<br/></p></div>\r\n"
        "<div class=\"footer\">Copyright © 2023 广州某某电子科技有限公司 版权所有 <a href=\"https://beian.example/\">"
        "粤ICP备12345678号</a> 技术支持：某某网络</div>\r\n</body>\r\n</html>\r\n";
    return page;
}

std::string Repeated(std::string_view prefix, std::string_view unit, std::size_t bytes) {
    std::string page(prefix);
    page.reserve(bytes + unit.size());
    while (page.size() < bytes)
        page.append(unit);
    return page;
}

// A title and a mobile number first, so that every rule, the address rule included, runs on the rest.
constexpr std::string_view kHostilePrefix = "<title>某某科技有限公司</title> 13812345678 ";

void RunRules(benchmark::State& state, const std::string& page) {
    TContactRules rules;
    bool ready = false;
    for (auto _ : state) {
        TComPanyInfo record;
        rules.TakeNameFromTitle(page, record, TTitleRule::CompanyWord);
        ready = rules.ExtractContacts(page, record);
        benchmark::DoNotOptimize(record);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
    state.counters["ready"] = ready ? 1 : 0;
    state.counters["page_KB"] = static_cast<double>(page.size()) / 1024;
}

void BM_RealisticCompanyPage(benchmark::State& state) {
    RunRules(state, RealisticCompanyPage());
}

// One line of "地" and no "址": the address pattern must not retry from every "地".
void BM_HostileUnclosedAddress(benchmark::State& state) {
    RunRules(state, Repeated(kHostilePrefix, "地", kHostilePageBytes));
}

// Anchors that never close.
void BM_HostileUnclosedAnchors(benchmark::State& state) {
    RunRules(state, Repeated(kHostilePrefix, "<a href=x ", kHostilePageBytes));
}

// Result blocks that never reach "推广": a lazy loop that a backtracking engine retries from every block.
void BM_HostileCertifiedBlocks(benchmark::State& state) {
    std::string page =
        Repeated("", "<div id=\"1\" data-click=\"{}\"><a href=\"x\">广州某某</a></div>\r\n", kHostilePageBytes);
    vexo::TRegExp regExp;
    std::size_t found = 0;
    for (auto _ : state) {
        found = regExp.AllMatches(kCertifiedBlockPattern, page).size();
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
    state.counters["matches"] = static_cast<double>(found);
}

// A catalogue: one line of 20 MB holding 1.7 million distinct phone-like numbers after a title.
void BM_NumberDenseCatalogue(benchmark::State& state) {
    constexpr std::size_t kCatalogueBytes = 20'000'000;
    std::string page = "<title>广州某某电子有限公司</title>";
    page.reserve(kCatalogueBytes);
    char number[32];
    for (unsigned n = 0; page.size() < kCatalogueBytes; ++n) {
        const int length = n % 2 == 0 ? std::snprintf(number, sizeof number, "139%08u ", n)
                                      : std::snprintf(number, sizeof number, "020-%08u ", n);
        page.append(number, static_cast<std::size_t>(length));
    }
    RunRules(state, page);
}

BENCHMARK(BM_RealisticCompanyPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NumberDenseCatalogue)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostileUnclosedAddress)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostileUnclosedAnchors)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostileCertifiedBlocks)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
