// TComPanyInfo: the in-memory company record that the collectors fill, the store keeps and the grid shows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexo {

// One company found on an advertiser's site. Texts are UTF-8. The four contact lists keep the order in which
// values were first added and never hold two values that are equal ignoring letter case. Plain value type: the
// store shares records through std::shared_ptr and copies them with AssignFrom.
struct TComPanyInfo {
    std::string ComName;  // normalised name; empty reads back as " " through GetComName
    std::string ListID;   // decimal row id once stored, else empty
    std::string Keyword;  // keyword the company was collected under (not stored)
    // Where the result collector found the entry that led to the company (not stored): its engine (0 Baidu,
    // 1 Sogou, 2 360) and the 0-based result page; -1 when not known. A company that cannot be stored holds its
    // engine's saved cursor back to that page, so the next run comes to it again.
    std::int8_t ResultEngine = -1;
    std::int32_t ResultPage = -1;
    std::string Addr;
    std::vector<std::string> Tel;
    std::vector<std::string> Mob;
    std::vector<std::string> EMail;
    std::vector<std::string> qq;
    std::string weburl;
    std::string source;
    std::uint8_t ispay = 0;
    std::uint8_t renzheng = 0;

    // ComName, or a single space when it is empty.
    std::string GetComName() const;

    // Stores the name with characters lacking a GBK form dropped, the contact-page captions removed and
    // punctuation cleaned up.
    void SetComName(std::string_view name);

    // Append the value unless the list already holds one equal to it ignoring letter case.
    void AddTel(std::string_view value);
    void AddMobile(std::string_view value);
    void AddEmail(std::string_view value);
    void AddQQ(std::string_view value);

    // Empties the contact lists, the name, Addr, weburl and source and resets ispay; Keyword, ListID, renzheng
    // and the result origin keep their values.
    void ClearData();

    // Copies name (through GetComName and SetComName), Addr, weburl, source, both flags and the four lists from
    // another record; ListID, Keyword and the result origin stay.
    void AssignFrom(const TComPanyInfo& other);
};

// Adds the values in order to one of a record's contact lists exactly as AddTel and its siblings do, one after the
// other, but in time linear in the sizes: a hostile page can carry a hundred thousand numbers.
void AddAllUnique(std::vector<std::string>& list, const std::vector<std::string>& values);

}  // namespace vexo
