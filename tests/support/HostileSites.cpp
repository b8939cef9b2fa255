// Hostile advertisers: the pages are made piece by piece while they are sent, so the simulated web holds none of
// them whole and an endless page costs it nothing.
#include "support/HostileSites.h"

#include <cstdio>
#include <memory>

namespace vexo::sim {

namespace {

constexpr std::size_t kPieceBytes = 64 * 1024;
constexpr int kTrickleIntervalMs = 64;  // 64 KiB every 64 ms: about 1 MB/s
constexpr std::size_t kOversizedBytes = std::size_t{40} * 1024 * 1024;
constexpr std::size_t kNumbersPerPiece = 4096;

std::string HomePage(const std::string& name) {
    return "<html><head><title>" + name +
           "</title></head><body>\r\n<div class=nav><a href=\"/\">首页</a> <a href=\"/contact.html\">联系我们</a>"
           "</div>\r\n<p>欢迎光临</p></body></html>";
}

// Filler that none of the contact patterns finds anything in.
std::string Filler() {
    std::string piece;
    while (piece.size() < kPieceBytes)
        piece += "<p>产品中心 新闻动态 product news and more text of a long page</p>\r\n";
    return piece;
}

// Numbers alternate between mobile-like ("139" and eight digits) and landline-like ("020-" and eight digits);
// the n-th pair differs from every other, so no value repeats.
void AppendNumbers(std::size_t first, std::string& piece) {
    char number[32];
    for (std::size_t n = first; n < first + kNumbersPerPiece; ++n) {
        const unsigned value = static_cast<unsigned>(n % 100'000'000);
        const int length = n % 2 == 0 ? std::snprintf(number, sizeof number, "139%08u ", value)
                                      : std::snprintf(number, sizeof number, "020-%08u ", value);
        piece.append(number, static_cast<std::size_t>(length));
    }
}

TSimResponse NumberDensePage(const std::string& name, std::size_t bytes) {
    TSimResponse response = TSimResponse::Html({});
    response.framing = TBodyFraming::ContentLength;
    const std::string head = "<html><head><title>" + name + "</title></head><body>";
    const std::string tail = "</body></html>";
    response.announcedLength = bytes;
    auto sent = std::make_shared<std::size_t>(0);
    response.bodyPieces = [=](std::size_t index, std::string& piece) {
        if (*sent >= bytes)
            return false;
        if (index == 0) {
            piece = head;
        } else {
            AppendNumbers((index - 1) * kNumbersPerPiece, piece);
        }
        const std::size_t room = bytes - *sent;
        if (piece.size() + tail.size() >= room) {
            piece.resize(room > tail.size() ? room - tail.size() : 0);
            piece += tail.substr(0, room - piece.size());
        }
        *sent += piece.size();
        return true;
    };
    return response;
}

TSimResponse EndlessPage(int intervalMs) {
    TSimResponse response = TSimResponse::Html({});
    response.framing = TBodyFraming::Chunked;
    response.pieceIntervalMs = intervalMs;
    response.bodyPieces = [filler = Filler()](std::size_t, std::string& piece) {
        piece = filler;
        return true;
    };
    return response;
}

TSimResponse OversizedPage() {
    TSimResponse response = TSimResponse::Html({});
    response.framing = TBodyFraming::CloseDelimited;
    auto sent = std::make_shared<std::size_t>(0);
    response.bodyPieces = [sent, filler = Filler()](std::size_t, std::string& piece) {
        if (*sent >= kOversizedBytes)
            return false;
        piece = filler;
        *sent += piece.size();
        return true;
    };
    return response;
}

}  // namespace

std::string_view HostileKindName(THostileKind kind) {
    switch (kind) {
        case THostileKind::Stalling:
            return "stalling";
        case THostileKind::Trickling:
            return "trickling";
        case THostileKind::Endless:
            return "endless";
        case THostileKind::Oversized:
            return "oversized";
        case THostileKind::NumberDense:
            break;
    }
    return "number_dense";
}

void MakeSiteHostile(TSimWeb& web, const std::string& host, const std::string& name, THostileKind kind,
                     std::size_t denseBytes) {
    if (kind == THostileKind::NumberDense) {
        web.Handle(host, "/", [=](const TSimRequest&) { return NumberDensePage(name, denseBytes); });
        web.Serve(host, "/contact.html", TSimResponse::Status(404));
        return;
    }
    web.Serve(host, "/", TSimResponse::Html(HomePage(name)));
    switch (kind) {
        case THostileKind::Stalling: {
            TSimResponse stall = TSimResponse::Html("<html></html>");
            stall.delayAfterHeadersMs = kStallForever;
            web.Serve(host, "/contact.html", stall);
            break;
        }
        case THostileKind::Trickling:
            web.Handle(host, "/contact.html", [](const TSimRequest&) { return EndlessPage(kTrickleIntervalMs); });
            break;
        case THostileKind::Endless:
            web.Handle(host, "/contact.html", [](const TSimRequest&) { return EndlessPage(0); });
            break;
        case THostileKind::Oversized:
            web.Handle(host, "/contact.html", [](const TSimRequest&) { return OversizedPage(); });
            break;
        case THostileKind::NumberDense:
            break;
    }
}

}  // namespace vexo::sim
