// Lines of an export and the text writer; see Export.h.
#include "store/Export.h"

#include <array>
#include <cstdio>
#include <memory>

#include "store/DS2Excel.h"
#include "text/Gbk.h"

namespace vexo {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

// Spaces and control characters (every byte up to the space) at both ends go.
std::string_view TrimControls(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

void RemoveAll(std::string& text, std::string_view what) {
    if (text.find(what) == std::string::npos)
        return;
    std::string kept;
    kept.reserve(text.size());
    std::size_t from = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, from)) {
        kept.append(text, from, at - from);
        from = at + what.size();
    }
    kept.append(text, from);
    text = std::move(kept);
}

struct TSeparators {
    std::string_view field;
    std::string_view value;
};

// Name, address and site address: trimmed, line breaks and field separators removed.
std::string CleanValue(std::string_view value, const TSeparators& separators) {
    std::string cell;
    cell.reserve(value.size());
    for (char c : TrimControls(value)) {
        if (c != '\n' && c != '\r')
            cell.push_back(c);
    }
    RemoveAll(cell, separators.field);
    return cell;
}

// A contact list in one cell: its stored text (each value followed by CR LF) trimmed, every line feed made a value
// separator, carriage returns removed, and the field separator removed where it differs from the value separator.
std::string CleanList(const std::vector<std::string>& values, const TSeparators& separators) {
    const std::string stored = StoredListText(values);
    std::string cell;
    cell.reserve(stored.size());
    for (char c : TrimControls(stored)) {
        if (c == '\n')
            cell.append(separators.value);
        else if (c != '\r')
            cell.push_back(c);
    }
    if (separators.field != separators.value)
        RemoveAll(cell, separators.field);
    return cell;
}

enum class TFieldKind { Single, List };

struct TField {
    std::string_view caption;
    bool TExportChoice::*chosen;
    TFieldKind kind;
    std::string (*single)(const TComPanyInfo&);
    const std::vector<std::string> TComPanyInfo::*list;
};

// The fields in their fixed output order.
const std::array<TField, 6> kFields{{
    {kCaptionName, &TExportChoice::Name, TFieldKind::Single, [](const TComPanyInfo& c) { return c.GetComName(); },
     nullptr},
    {kCaptionMob, &TExportChoice::Mob, TFieldKind::List, nullptr, &TComPanyInfo::Mob},
    {kCaptionQQ, &TExportChoice::QQ, TFieldKind::List, nullptr, &TComPanyInfo::qq},
    {kCaptionEMail, &TExportChoice::EMail, TFieldKind::List, nullptr, &TComPanyInfo::EMail},
    {kCaptionAddr, &TExportChoice::Addr, TFieldKind::Single, [](const TComPanyInfo& c) { return c.Addr; }, nullptr},
    {kCaptionWebUrl, &TExportChoice::WebUrl, TFieldKind::Single, [](const TComPanyInfo& c) { return c.weburl; },
     nullptr},
}};

}  // namespace

std::vector<std::string> BuildExportLines(const TCompanyList& companies, const TExportChoice& choice) {
    const TSeparators separators = choice.TextFormat ? TSeparators{kTextFieldSeparator, kTextValueSeparator}
                                                     : TSeparators{kSheetFieldSeparator, kSheetValueSeparator};
    std::vector<const TField*> selected;
    for (const TField& field : kFields) {
        if (choice.*field.chosen)
            selected.push_back(&field);
    }

    std::vector<std::string> lines;
    if (selected.size() == 1 && selected.front()->kind == TFieldKind::List) {
        const auto list = selected.front()->list;
        for (const auto& company : companies)
            lines.insert(lines.end(), ((*company).*list).begin(), ((*company).*list).end());
        return lines;
    }

    lines.reserve(companies.size() + 1);
    if (selected.size() > 1) {
        std::string header;
        for (const TField* field : selected) {
            if (!header.empty())
                header.append(separators.field);
            header.append(field->caption);
        }
        lines.push_back(std::move(header));
    }
    if (selected.empty())
        return lines;  // rows without cells are all empty
    for (const auto& company : companies) {
        std::string row;
        bool anyValue = false;
        for (std::size_t i = 0; i < selected.size(); ++i) {
            if (i > 0)
                row.append(separators.field);
            const TField& field = *selected[i];
            const std::string cell = field.kind == TFieldKind::Single ? CleanValue(field.single(*company), separators)
                                                                      : CleanList((*company).*field.list, separators);
            anyValue = anyValue || !cell.empty();
            row.append(cell);
        }
        if (anyValue)
            lines.push_back(std::move(row));
    }
    return lines;
}

bool WriteWholeFile(const std::string& fileName, std::string_view bytes) {
    std::FILE* file = std::fopen(fileName.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    // fclose flushes the buffer: a full disk shows only there.
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

bool WriteTextExport(const std::string& fileName, const std::vector<std::string>& lines) {
    std::string text;
    std::size_t size = 0;
    for (const std::string& line : lines)
        size += line.size() + kLineEnd.size();
    text.reserve(size);
    for (const std::string& line : lines) {
        text.append(line);
        text.append(kLineEnd);
    }
    return WriteWholeFile(fileName, Utf8ToGbk(text));
}

bool SaveAsSpreadsheet(const std::string& fileName, const std::vector<std::string>& lines) {
    return TDS2Excel(lines).WriteSheetFile(fileName, true);
}

}  // namespace vexo
