#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <QRect>
#include <QSize>

namespace tavlin::fuzz {

// One function per fuzz target, shared by the libFuzzer executables and the replay test, so
// a regression input is replayed through exactly the code that once failed on it.
using Entry = int (*)(const std::uint8_t* data, std::size_t size);

int loader(const std::uint8_t* data, std::size_t size);
int jpegScan(const std::uint8_t* data, std::size_t size);
int hive(const std::uint8_t* data, std::size_t size);
int journal(const std::uint8_t* data, std::size_t size);

// The entry for a target's name ("loader", "jpegscan", "hive", "journal"); null if none. The
// targets named after a picture format ("png", "webp", "tiff", "heif", "jxl") are the loader,
// started from that format's seeds and dictionary so that the fuzzer stays inside its reader.
Entry entryFor(std::string_view target);

// What the viewer asks the loader for on a 1920 x 1080 screen at 96 DPI with the panel shown,
// stretching and centring on: the same arithmetic as the viewer's decode planner.
struct Planned {
    QSize decoded;
    QRect visible;
};
Planned planFor1080p(QSize orientedSize);

} // namespace tavlin::fuzz
