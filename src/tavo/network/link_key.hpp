#pragma once

#include <string>
#include <string_view>

namespace tavo {

// "A->B": the text key of a link or hop from A to B, used by telemetry, heatmaps, sensitivity results
// and diffs.
inline std::string link_key(std::string_view from, std::string_view to) {
    std::string key;
    key.reserve(from.size() + 2 + to.size());
    key.append(from).append("->").append(to);
    return key;
}

}  // namespace tavo
