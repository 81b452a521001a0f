#pragma once

#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QImage>

#include <jxl/decode.h>
#include <jxl/decode_cxx.h>
#include <jxl/encode.h>
#include <jxl/encode_cxx.h>
#include <jxl/thread_parallel_runner.h>
#include <jxl/thread_parallel_runner_cxx.h>

// JPEG XL files made with libjxl's own encoder, and libjxl's own plain decode of them to
// compare the loader with. Shared by the tests and the benchmark.
namespace tavlin::test::jxl {

struct Recipe {
    bool lossless = true;
    float distance = 1.0f; // lossy only
    int effort = 3;        // 1 (fastest) to 9
    int bits = 8;          // 8 or 16 bits a sample
    bool grey = false;
    bool alpha = false;
    int orientation = 1; // EXIF's 1-8, stored in the codestream
    bool container = false;
    bool displayP3 = false; // colours in Display P3 instead of sRGB
};

// Encodes `frames` (one picture, or an animation's frames of equal size); empty on failure.
inline QByteArray encode(const std::vector<QImage>& frames, const Recipe& r) {
    if (frames.empty())
        return {};
    JxlEncoderPtr enc = JxlEncoderMake(nullptr);
    JxlThreadParallelRunnerPtr runner =
        JxlThreadParallelRunnerMake(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads());
    if (JxlEncoderSetParallelRunner(enc.get(), JxlThreadParallelRunner, runner.get()) !=
        JXL_ENC_SUCCESS)
        return {};
    const QSize size = frames.front().size();
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = std::uint32_t(size.width());
    info.ysize = std::uint32_t(size.height());
    info.bits_per_sample = std::uint32_t(r.bits);
    info.num_color_channels = r.grey ? 1 : 3;
    info.num_extra_channels = r.alpha ? 1 : 0;
    info.alpha_bits = r.alpha ? std::uint32_t(r.bits) : 0;
    info.uses_original_profile = r.lossless ? JXL_TRUE : JXL_FALSE;
    info.orientation = JxlOrientation(r.orientation);
    if (frames.size() > 1) {
        info.have_animation = JXL_TRUE;
        info.animation.tps_numerator = 100;
        info.animation.tps_denominator = 1;
    }
    if (r.container)
        JxlEncoderUseContainer(enc.get(), JXL_TRUE);
    if (JxlEncoderSetBasicInfo(enc.get(), &info) != JXL_ENC_SUCCESS)
        return {};
    if (r.alpha) {
        JxlExtraChannelInfo extra;
        JxlEncoderInitExtraChannelInfo(JXL_CHANNEL_ALPHA, &extra);
        extra.bits_per_sample = std::uint32_t(r.bits);
        JxlEncoderSetExtraChannelInfo(enc.get(), 0, &extra);
    }
    JxlColorEncoding colour;
    JxlColorEncodingSetToSRGB(&colour, r.grey ? JXL_TRUE : JXL_FALSE);
    if (r.displayP3)
        colour.primaries = JXL_PRIMARIES_P3;
    if (JxlEncoderSetColorEncoding(enc.get(), &colour) != JXL_ENC_SUCCESS)
        return {};
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(enc.get(), nullptr);
    JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, r.effort);
    if (r.lossless)
        JxlEncoderSetFrameLossless(settings, JXL_TRUE);
    else
        JxlEncoderSetFrameDistance(settings, r.distance);

    const std::uint32_t channels = (r.grey ? 1u : 3u) + (r.alpha ? 1u : 0u);
    const JxlPixelFormat format{channels, r.bits == 16 ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8,
                                JXL_NATIVE_ENDIAN, 0};
    for (size_t i = 0; i < frames.size(); ++i) {
        const QImage image = frames[i].convertToFormat(QImage::Format_ARGB32);
        std::vector<std::uint8_t> bytes8;
        std::vector<std::uint16_t> bytes16;
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = line[x];
                int values[4];
                int n = 0;
                if (r.grey) {
                    values[n++] = qGray(p);
                } else {
                    values[n++] = qRed(p);
                    values[n++] = qGreen(p);
                    values[n++] = qBlue(p);
                }
                if (r.alpha)
                    values[n++] = qAlpha(p);
                for (int c = 0; c < n; ++c) {
                    if (r.bits == 16) // low bytes that make the reduction to 8 bits round
                        bytes16.push_back(std::uint16_t(values[c] * 256 + (x * 37 + y * 11 + c * 5) % 256));
                    else
                        bytes8.push_back(std::uint8_t(values[c]));
                }
            }
        }
        if (info.have_animation) {
            JxlFrameHeader header;
            JxlEncoderInitFrameHeader(&header);
            header.duration = 10;
            JxlEncoderSetFrameHeader(settings, &header);
        }
        const void* data = r.bits == 16 ? static_cast<const void*>(bytes16.data())
                                        : static_cast<const void*>(bytes8.data());
        const size_t dataSize = r.bits == 16 ? bytes16.size() * 2 : bytes8.size();
        if (JxlEncoderAddImageFrame(settings, &format, data, dataSize) != JXL_ENC_SUCCESS)
            return {};
    }
    JxlEncoderCloseInput(enc.get());

    QByteArray out(64 * 1024, '\0');
    std::uint8_t* next = reinterpret_cast<std::uint8_t*>(out.data());
    size_t avail = size_t(out.size());
    for (;;) {
        const JxlEncoderStatus status = JxlEncoderProcessOutput(enc.get(), &next, &avail);
        if (status == JXL_ENC_SUCCESS)
            break;
        if (status != JXL_ENC_NEED_MORE_OUTPUT)
            return {};
        const qsizetype used = qsizetype(next - reinterpret_cast<std::uint8_t*>(out.data()));
        out.resize(out.size() * 2);
        next = reinterpret_cast<std::uint8_t*>(out.data()) + used;
        avail = size_t(out.size() - used);
    }
    out.truncate(qsizetype(next - reinterpret_cast<std::uint8_t*>(out.data())));
    return out;
}

// libjxl's plain decode of the first frame to 8-bit RGBA, turned as the file says, with the
// same runner the loader uses: a null picture when it fails.
inline QImage decode(const QByteArray& bytes) {
    JxlDecoderPtr dec = JxlDecoderMake(nullptr);
    JxlThreadParallelRunnerPtr runner =
        JxlThreadParallelRunnerMake(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads());
    JxlDecoderSetParallelRunner(dec.get(), JxlThreadParallelRunner, runner.get());
    JxlDecoderSubscribeEvents(dec.get(), JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE);
    JxlDecoderSetInput(dec.get(), reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                       size_t(bytes.size()));
    JxlDecoderCloseInput(dec.get());
    const JxlPixelFormat format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    JxlBasicInfo info;
    std::vector<std::uint8_t> pixels;
    for (;;) {
        switch (JxlDecoderProcessInput(dec.get())) {
        case JXL_DEC_BASIC_INFO:
            JxlDecoderGetBasicInfo(dec.get(), &info);
            continue;
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            size_t size = 0;
            JxlDecoderImageOutBufferSize(dec.get(), &format, &size);
            pixels.resize(size);
            JxlDecoderSetImageOutBuffer(dec.get(), &format, pixels.data(), size);
            continue;
        }
        case JXL_DEC_FULL_IMAGE: {
            // Orientations 5 to 8 swap the sides.
            const bool swap = info.orientation >= 5;
            const int w = int(swap ? info.ysize : info.xsize);
            const int h = int(swap ? info.xsize : info.ysize);
            QImage image(w, h, QImage::Format_ARGB32);
            const std::uint8_t* p = pixels.data();
            for (int y = 0; y < h; ++y) {
                auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
                for (int x = 0; x < w; ++x, p += 4)
                    line[x] = qRgba(p[0], p[1], p[2], p[3]);
            }
            return image;
        }
        default:
            return {};
        }
    }
}

} // namespace tavlin::test::jxl
