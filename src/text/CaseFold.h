// Unicode simple case folding, the one notion of "equal ignoring letter case" of the program (keyword list,
// record lists, address lists).
#pragma once

#include <string>
#include <string_view>

namespace vexo {

// The UTF-8 text with every character replaced by its simple case folding; malformed bytes are kept as they are.
std::string CaseFold(std::string_view utf8);

// True when both texts are equal after case folding.
bool SameIgnoringCase(std::string_view a, std::string_view b);

}  // namespace vexo
