// Export of a keyword's companies: the lines built from the records and the worksheet records the spreadsheet
// writer produces (decoded and byte for byte). ExportKey on a real database is tested through vexo-cli export.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "store/DS2Excel.h"
#include "store/Export.h"
#include "support/TempHome.h"
#include "text/Gbk.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

std::shared_ptr<TComPanyInfo> Record(const std::string& name, Lines mob, Lines qq = {}, Lines email = {},
                                     const std::string& url = "") {
    auto record = std::make_shared<TComPanyInfo>();
    record->ComName = name;
    record->Mob = std::move(mob);
    record->qq = std::move(qq);
    record->EMail = std::move(email);
    record->weburl = url;
    return record;
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

int Word(const std::string& bytes, std::size_t at) {
    return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
}

// The records of a worksheet stream, one text each: "BOF", "CODEPAGE 936", "row,column text" for a LABEL (its
// GBK text in UTF-8, format index and length checked), "row,column blank" for a BLANK, "EOF".
Lines Records(const std::string& bytes) {
    Lines records;
    std::size_t at = 0;
    while (at + 4 <= bytes.size()) {
        const int type = Word(bytes, at);
        const std::size_t length = static_cast<std::size_t>(Word(bytes, at + 2));
        const std::string body = bytes.substr(at + 4, length);
        at += 4 + length;
        if (body.size() != length) {
            records.push_back("truncated");
        } else if (type == 0x0809) {
            records.push_back(body == std::string("\0\0\x10\0\0\0\0\0", 8) ? "BOF" : "bad BOF");
        } else if (type == 0x0042 && length == 2) {
            records.push_back("CODEPAGE " + std::to_string(Word(body, 0)));
        } else if (type == 0x0204 && length >= 8 && Word(body, 4) == 0 &&
                   static_cast<std::size_t>(Word(body, 6)) == length - 8) {
            records.push_back(std::to_string(Word(body, 0)) + "," + std::to_string(Word(body, 2)) + " " +
                              GbkToUtf8(body.substr(8)));
        } else if (type == 0x0201 && length == 6 && Word(body, 4) == 0x17) {
            records.push_back(std::to_string(Word(body, 0)) + "," + std::to_string(Word(body, 2)) + " blank");
        } else if (type == 0x000A && length == 0) {
            records.push_back("EOF");
        } else {
            records.push_back("unexpected record " + std::to_string(type));
        }
    }
    if (at != bytes.size())
        records.push_back("trailing bytes");
    return records;
}

Lines SheetRecords(const Lines& lines) {
    const auto bytes = TDS2Excel(lines).SheetBytes(true);
    return bytes ? Records(*bytes) : Lines{"no sheet"};
}

// One company named 某某公司 with the mobiles A and B and no QQ.
TEST(ExportLinesTest, ListValuesShareOneCellJoinedByTheFormatsValueSeparator) {
    const TCompanyList companies{Record("某某公司", {"A", "B"})};
    EXPECT_EQ(BuildExportLines(companies, TExportChoice{.EMail = false, .WebUrl = false, .TextFormat = true}),
              (Lines{"公司名,手机,QQ", "某某公司,A,B,"}));
    EXPECT_EQ(BuildExportLines(companies, TExportChoice{.EMail = false, .WebUrl = false}),
              (Lines{"公司名\t手机\tQQ", "某某公司\tA, B\t"}));
}

TEST(ExportLinesTest, HeaderFollowsTheFixedOrderAndTheChoosersInitialBoxesLeaveTheAddressOut) {
    EXPECT_EQ(BuildExportLines({}, {.TextFormat = true}), (Lines{"公司名,手机,QQ,邮箱,网址"}));
    EXPECT_EQ(BuildExportLines({}, {.Addr = true, .TextFormat = true}), (Lines{"公司名,手机,QQ,邮箱,地址,网址"}));
    // With one field there is no header.
    EXPECT_EQ(
        BuildExportLines({Record("X", {})}, TExportChoice{.Name = false, .QQ = false, .Mob = false, .EMail = false}),
        Lines{});
}

TEST(ExportLinesTest, CellsAreCleanedSoNoValueShiftsAColumn) {
    auto record = Record(" \t某某\r\n公司,\x01", {" 138,1 ", "1\t39"}, {}, {"a@b.c"}, "http://x,y\n");
    record->Addr = "\r\n";
    TExportChoice choice{.QQ = false, .Addr = true, .TextFormat = true};
    // Text: the field separator leaves single values; list values keep their commas (value separator = field one).
    EXPECT_EQ(BuildExportLines({record}, choice).at(1), "某某公司,138,1 ,1\t39,a@b.c,,http://xy");
    // Spreadsheet: commas stay, TABs go, list values are joined by ", ".
    choice.TextFormat = false;
    EXPECT_EQ(BuildExportLines({record}, choice).at(1), "某某公司,\t138,1 , 139\ta@b.c\t\thttp://x,y");
}

TEST(ExportLinesTest, NamelessCompanyKeepsItsNumbersInTheMobileColumn) {
    // GetComName gives " " for an empty name; trimmed, the row starts with the separator.
    const TCompanyList companies{Record("", {"139"})};
    EXPECT_EQ(
        BuildExportLines(companies, TExportChoice{.QQ = false, .EMail = false, .WebUrl = false, .TextFormat = true}),
        (Lines{"公司名,手机", ",139"}));
    EXPECT_EQ(BuildExportLines(companies, TExportChoice{.QQ = false, .EMail = false, .WebUrl = false}),
              (Lines{"公司名\t手机", "\t139"}));
}

TEST(ExportLinesTest, SingleListFieldGivesEveryValueItsOwnLineUnchanged) {
    const TCompanyList companies{Record("甲", {"A", " B "}), Record("乙", {}), Record("丙", {"A", "C,D"})};
    for (bool text : {true, false})
        EXPECT_EQ(BuildExportLines(
                      companies,
                      TExportChoice{.Name = false, .QQ = false, .EMail = false, .WebUrl = false, .TextFormat = text}),
                  (Lines{"A", " B ", "A", "C,D"}));
    // A single field that is not a list: one cleaned cell per row, no header.
    EXPECT_EQ(
        BuildExportLines(companies,
                         TExportChoice{.QQ = false, .Mob = false, .EMail = false, .WebUrl = false, .TextFormat = true}),
        (Lines{"甲", "乙", "丙"}));
}

TEST(ExportLinesTest, RowsOfOnlyEmptyCellsAndExportsWithoutFieldsWriteNothing) {
    const TCompanyList companies{Record("", {}), Record(" ", {}, {"1"})};
    EXPECT_EQ(
        BuildExportLines(companies, TExportChoice{.QQ = false, .EMail = false, .WebUrl = false, .TextFormat = true}),
        (Lines{"公司名,手机"}));
    EXPECT_EQ(BuildExportLines(companies, TExportChoice{false, false, false, false, false, false, true}), Lines{});
}

TEST(SheetWriterTest, RowsStartAtColumnZeroAndEmptyInnerCellsAreBlank) {
    // A row whose last cell is empty writes no record for it; the next row starts at column 0; a nameless row has a
    // BLANK first cell. No lines at all: BOF, CODEPAGE and EOF.
    EXPECT_EQ(SheetRecords({"公司名\t手机\tQQ", "某\tA, B\t", "\t139"}),
              (Lines{"BOF", "CODEPAGE 936", "0,0 公司名", "0,1 手机", "0,2 QQ", "1,0 某", "1,1 A, B", "2,0 blank",
                     "2,1 139", "EOF"}));
    EXPECT_EQ(SheetRecords({}), (Lines{"BOF", "CODEPAGE 936", "EOF"}));
}

TEST(SheetWriterTest, CellsFollowTheTabsOfTheUtf8Line) {
    // "|" stays text; a character outside GBK becomes "?"; an empty line takes no row; a cell past the header's
    // last column is dropped; a line holding a line break is two rows.
    EXPECT_EQ(SheetRecords({"公司名\t手机", "A|B\t1", "", "名\t2\t多余", "x😀\t3\r\n下一行"}),
              (Lines{"BOF", "CODEPAGE 936", "0,0 公司名", "0,1 手机", "1,0 A|B", "1,1 1", "2,0 名", "2,1 2", "3,0 x?",
                     "3,1 3", "4,0 下一行", "EOF"}));
    // A single-field export: its first value is row 0 of the one column.
    EXPECT_EQ(SheetRecords({"138", "139"}), (Lines{"BOF", "CODEPAGE 936", "0,0 138", "1,0 139", "EOF"}));
}

TEST(SheetWriterTest, MoreRowsThanTheFormatHoldsWriteNothing) {
    Lines lines(TDS2Excel::kMaxRows, "1");
    lines.insert(lines.begin() + 1, "");  // empty lines take no row
    const auto bytes = TDS2Excel(lines).SheetBytes(true);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(Records(bytes->substr(bytes->size() - 4 - 13)), (Lines{"65535,0 1", "EOF"}));

    test::TTempHome home;
    const fs::path file = home.Dir() / "old.xls";
    std::ofstream(file, std::ios::binary) << "old content";
    lines.push_back("1");
    EXPECT_FALSE(TDS2Excel(lines).SheetBytes(true));
    EXPECT_FALSE(TDS2Excel(lines).WriteSheetFile(file.string(), true));
    EXPECT_EQ(ReadBytes(file), "old content");
}

}  // namespace
}  // namespace vexo
