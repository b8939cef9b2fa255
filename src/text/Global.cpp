// Small shared helpers: text extraction, links, URL encoding, paths, processes, file version, time stamps.
#include "text/Global.h"

namespace vexo {

std::string TextBetween(std::string_view start, std::string_view end, std::string_view text) {
    if (start.empty())
        return {};
    const std::size_t startPos = text.find(start);
    if (startPos == std::string_view::npos)
        return {};
    std::string_view rest = text.substr(startPos + start.size());
    if (!end.empty()) {
        const std::size_t endPos = rest.find(end);
        if (endPos != std::string_view::npos)
            rest = rest.substr(0, endPos);
    }
    return std::string(rest);
}

}  // namespace vexo
