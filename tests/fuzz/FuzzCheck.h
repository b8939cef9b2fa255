// What the fuzz targets share: an invariant check that stops the run where it breaks, and the small input helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "text/CaseFold.h"
#include "text/Gbk.h"
#include "text/Global.h"

namespace vexo::fuzz {

// Stops the run with a message when an invariant does not hold; libFuzzer then saves the input as a crash.
inline void Check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The input's parts between NUL bytes; parts missing at the end are empty.
inline std::vector<std::string_view> SplitAtNul(std::string_view input, std::size_t parts) {
    std::vector<std::string_view> result;
    for (std::size_t i = 0; i + 1 < parts; ++i) {
        const std::size_t nul = input.find('\0');
        result.push_back(input.substr(0, nul));
        input = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);
    }
    result.push_back(input);
    return result;
}

inline bool IsTrimmed(std::string_view text) {
    return Trim(text).size() == text.size();
}

inline bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

inline std::size_t CountOf(std::string_view text, std::string_view part) {
    std::size_t count = 0;
    for (std::size_t pos = text.find(part); pos != std::string_view::npos; pos = text.find(part, pos + part.size()))
        ++count;
    return count;
}

// True when no two values are equal ignoring letter case.
inline bool AllDistinctIgnoringCase(const std::vector<std::string>& values) {
    std::unordered_set<std::string> folded;
    for (const std::string& value : values) {
        if (!folded.insert(CaseFold(value)).second)
            return false;
    }
    return true;
}

inline bool AllValidUtf8(const std::vector<std::string>& values) {
    for (const std::string& value : values) {
        if (!IsValidUtf8(value))
            return false;
    }
    return true;
}

}  // namespace vexo::fuzz
