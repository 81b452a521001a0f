#pragma once

#include <cstdint>

#include <QByteArray>
#include <QList>

// What the program reads from a HEIF file's boxes itself, before libheif decodes anything:
// libheif 1.15 and its decoders size some of what they allocate by values that it does not
// hold to the picture's stated size, so those values are looked at first.
namespace tavlin {

// How a HEIF file's pictures are coded, as far as it matters for the memory their decoding
// takes; the costliest when unknown.
struct HeifCoding {
    bool hevc = true;
    bool av1 = true;
    int chroma = 3; // 0 grey, 1 4:2:0, 2 4:2:2, 3 4:4:4
    int bits = 0;   // a sample's; 0 when not known from the coding
};

// What the decoders' configurations in ipco say about the coding.
HeifCoding codingOf(const QByteArray& bytes);

// A width and a height as a file states them, unchecked.
struct StatedSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// The canvases the file's grids and overlays lay out, as their records give them: libheif 1.15
// makes a canvas of that size whatever size the item states.
QList<StatedSize> canvasesOf(const QByteArray& bytes);

// A coded picture as its sequence header states it: its decoder allocates for that, whatever
// size the item states.
struct CodedFrame {
    StatedSize size;
    HeifCoding coding;
};

// The file's coded pictures: every AV1 sequence header (in av1C and in the data of av01 items)
// and every HEVC sequence parameter set (in hvcC and in the data of hvc1 items).
QList<CodedFrame> codedFramesOf(const QByteArray& bytes);

} // namespace tavlin
