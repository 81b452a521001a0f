#include "decode/prefetchplan.h"

#include <algorithm>
#include <cmath>

namespace tavlin {

std::vector<std::int64_t> likelyNextIndices(const BrowsingState& s) {
    if (s.count <= 0)
        return {};
    if (s.slideshow && s.screensaver) {
        if (!s.nextPick || *s.nextPick < 0 || *s.nextPick >= s.count)
            return {};
        return {*s.nextPick};
    }
    // A tick moves one entry on, or from nothing selected to the second entry.
    const std::int64_t next =
        s.selected < 0 ? std::min<std::int64_t>(1, s.count - 1) : s.selected + 1;
    if (s.slideshow) {
        if (next < s.count)
            return {next};
        return s.loop ? std::vector<std::int64_t>{0} : std::vector<std::int64_t>{};
    }
    std::vector<std::int64_t> indices;
    if (s.selected >= 0 && next < s.count)
        indices.push_back(next);
    if (s.selected > 0 && s.selected - 1 < s.count)
        indices.push_back(s.selected - 1);
    return indices;
}

std::int64_t indexForRandom(double r, std::int64_t count) {
    return std::clamp<std::int64_t>(static_cast<std::int64_t>(std::floor(r * count)), 0, count - 1);
}

} // namespace tavlin
