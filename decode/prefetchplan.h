#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace tavlin {

// The window's state that decides which pictures are likely to be asked for next.
struct BrowsingState {
    std::int64_t selected = -1;       // the file list's selected index, -1 for none
    std::int64_t count = 0;           // entries in the file list
    bool slideshow = false;           // the slideshow timer runs
    bool screensaver = false;         // the screensaver's random run
    bool loop = false;                // "Loop Slideshow"
    std::optional<std::int64_t> nextPick; // the screensaver's next pick, drawn early
};

// The file-list indices worth decoding ahead, most likely first: the next and
// the previous entry while browsing, the next slide in a slideshow, the next
// random pick in the screensaver.
std::vector<std::int64_t> likelyNextIndices(const BrowsingState& state);

// The entry a random number r in [0, 1) picks among `count` entries.
std::int64_t indexForRandom(double r, std::int64_t count);

} // namespace tavlin
