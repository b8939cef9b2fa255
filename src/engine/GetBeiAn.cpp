// ICP filing lookup: domain building, the request to the lookup service and the reading of its answer.
#include "engine/GetBeiAn.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "net/PageText.h"
#include "text/Gbk.h"
#include "text/Global.h"

namespace vexo {

namespace {

constexpr std::string_view kHttpPrefix = "http://";

bool IsSeparatorByte(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// Pieces of delimited text: split at `delimiter` and at every byte 0x00-0x20; blanks around a delimiter do not
// make pieces of their own, two delimiters in a row make an empty one, and so does a delimiter at the very end.
// No text gives no pieces.
std::vector<std::string> SplitDelimited(std::string_view text, char delimiter) {
    std::vector<std::string> pieces;
    std::size_t pos = 0;
    const std::size_t size = text.size();
    auto skipBlanks = [&] {
        while (pos < size && IsSeparatorByte(text[pos]))
            ++pos;
    };
    skipBlanks();
    while (pos < size) {
        const std::size_t start = pos;
        while (pos < size && !IsSeparatorByte(text[pos]) && text[pos] != delimiter)
            ++pos;
        pieces.emplace_back(text.substr(start, pos - start));
        skipBlanks();
        if (pos < size && text[pos] == delimiter) {
            if (pos + 1 == size)
                pieces.emplace_back();
            ++pos;
            skipBlanks();
        }
    }
    return pieces;
}

std::string AsciiLower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return lower;
}

bool IsSuffixLabel(std::string_view label) {
    return std::find(std::begin(kDomainSuffixLabels), std::end(kDomainSuffixLabels), label) !=
           std::end(kDomainSuffixLabels);
}

// The domain as one path segment: bytes that would end or escape the segment ("?", "#", "%", non-ASCII, ...)
// are percent-encoded, so a hostile site address cannot change what the service is asked.
std::string PathSegment(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    static constexpr std::string_view kKept = "-._~!$&'()*+,;=:@";
    std::string segment;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (alnum || kKept.find(c) != std::string_view::npos) {
            segment += c;
        } else {
            segment += '%';
            segment += kHex[byte >> 4];
            segment += kHex[byte & 0x0F];
        }
    }
    return segment;
}

// Labels of the address's host part: lower-cased, "http://" dropped from the front when it occurs anywhere (else
// trimmed), the first piece up to "/" or a blank, split at ".". None when the address has no host part.
std::vector<std::string> HostLabels(const std::string& siteAddress) {
    std::string address = AsciiLower(siteAddress);
    if (address.find(kHttpPrefix) != std::string::npos)
        address.erase(0, kHttpPrefix.size());
    else
        address = std::string(Trim(address));
    const std::vector<std::string> pieces = SplitDelimited(address, '/');
    if (pieces.empty())
        return {};
    return SplitDelimited(pieces.front(), '.');
}

// The first label at the second position or later that is a listed suffix, with the label in front of it and all
// later labels; empty when no label qualifies.
std::string DomainOfLabels(const std::vector<std::string>& labels) {
    for (std::size_t i = 1; i < labels.size(); ++i) {
        if (!IsSuffixLabel(labels[i]))
            continue;
        std::string domain = labels[i - 1];
        for (std::size_t j = i; j < labels.size(); ++j)
            AppendWithSeparator(domain, labels[j], ".");
        return domain;
    }
    return {};
}

}  // namespace

std::string ReadFilingAnswer(std::string_view answer, TRegExp& regExp) {
    const std::string text = DecodePageText(answer, false);
    std::string sponsor;
    std::string siteName;
    for (const std::string& row : regExp.AllMatches(kBeiAnRowPattern, text)) {
        if (Trim(row).empty())
            continue;
        if (row.find(kSponsorLabel) != std::string::npos) {
            sponsor = std::string(Trim(TextBetween("<td>", "</td>", row)));
        } else if (row.find(kSiteNameLabel) != std::string::npos) {
            siteName = std::string(Trim(TextBetween("<td>", "</td>", row)));
            break;
        }
    }
    if (GbkLength(sponsor) > kMinFilingNameLength)
        return sponsor;
    if (GbkLength(siteName) > kMinFilingNameLength)
        return siteName;
    return {};
}

TBeiAn::TBeiAn(std::string serviceHost) : http_(HttpPreset::BeiAn()), host_(std::move(serviceHost)) {}

std::string TBeiAn::DomainOf(const std::string& siteAddress) {
    return DomainOfLabels(HostLabels(siteAddress));
}

std::string TBeiAn::FindFilingName(const std::string& siteAddress) {
    if (host_.empty())
        return {};
    // Without a host part there is nothing to ask for; a host without a listed label is still asked for, with
    // the empty domain.
    const std::vector<std::string> labels = HostLabels(siteAddress);
    if (labels.empty())
        return {};

    const std::string root = std::string(kHttpPrefix) + host_ + "/";
    http_.SetHeader("Referer", root);
    std::string answer;
    try {
        answer = http_.Get(root + std::string(kBeiAnPath.substr(1)) + PathSegment(DomainOfLabels(labels)) + "/");
    } catch (const EHttpError&) {
        // A lookup that fails leaves the caller's name as it is; it never ends the site visit.
        return {};
    }
    return ReadFilingAnswer(answer, regExp_);
}

}  // namespace vexo
