#include "entries.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QString>

#include "decode/jpegscan.h"
#include "decode/pictureloader.h"
#include "fileops/batchjournal.h"
#include "layout/layout.h"
#include "platform/hivestore_text.h"

namespace tavlin::fuzz {

namespace {

constexpr double kTwipsPerPixel = 15; // 96 DPI
constexpr QSize kScreen(1920, 1080);

int px(double twips) {
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// The loader reads files by path; one in-memory file, rewritten per input, stands in.
class MemoryFile {
public:
    MemoryFile() : fd_(::memfd_create("tavlin-fuzz", MFD_CLOEXEC)) {
        if (fd_ < 0)
            fail("memfd_create");
        path_ = QStringLiteral("/proc/self/fd/%1").arg(fd_);
    }
    const QString& write(const std::uint8_t* data, std::size_t size) {
        if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, data, size, 0) != ssize_t(size))
            fail("writing the in-memory file");
        return path_;
    }

private:
    int fd_;
    QString path_;
};

} // namespace

Planned planFor1080p(QSize orientedSize) {
    const DisplayOptions options{true, true, true, design::frameSettings.width};
    const DisplayGeometry g =
        computeDisplayGeometry(orientedSize, kScreen.width() * kTwipsPerPixel,
                               kScreen.height() * kTwipsPerPixel, kTwipsPerPixel, options);
    const QRect placed(px(g.picture.left), px(g.picture.top), std::max(1, px(g.picture.width)),
                       std::max(1, px(g.picture.height)));
    const QRect onScreen =
        placed.intersected(QRect(QPoint(0, 0), kScreen)).translated(-placed.topLeft());
    const QSize decoded = placed.size();
    return {decoded, onScreen.intersected(QRect(QPoint(0, 0), decoded))};
}

int loader(const std::uint8_t* data, std::size_t size) {
    static MemoryFile file;
    const QString& path = file.write(data, size);
    const LoadedPicture picture = loadPicture(path, [](QSize oriented) {
        const Planned plan = planFor1080p(oriented);
        return DecodeRequest{plan.decoded, plan.visible};
    });
    if (picture.ok && picture.image.isNull())
        fail("a load reported success without pixels");
    if (!picture.ok && picture.error.isEmpty())
        fail("a failed load gave no reason");
    return 0;
}

int jpegScan(const std::uint8_t* data, std::size_t size) {
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    constexpr int kMaxScans = PictureLimits::maxScans;
    const JpegScanReport report = scanJpeg(buffer, kMaxScans);
    if (report.scans > kMaxScans + 1)
        fail("the scan count went past its limit");
    return 0;
}

int hive(const std::uint8_t* data, std::size_t size) {
    const QString name = QStringLiteral("HKEY_CURRENT_USER");
    const QByteArray text =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const hivestore::HiveParse first = hivestore::parseHive(text, name);
    // Whatever was read must be written so that it reads back the same, with nothing bad.
    const QByteArray written = hivestore::serialiseHive(first.tree, name);
    const hivestore::HiveParse second = hivestore::parseHive(written, name);
    if (second.badLineCount != 0)
        fail("the store wrote a line it cannot read back");
    if (hivestore::serialiseHive(second.tree, name) != written)
        fail("a hive read back differs from what was written");
    // Fed in small pieces, the streaming reader must agree with one whole read.
    hivestore::HiveReader reader(name);
    for (std::size_t at = 0; at < size; at += 7)
        reader.feed(text.constData() + at, qsizetype(std::min<std::size_t>(7, size - at)));
    const hivestore::HiveParse pieces = reader.finish();
    if (pieces.badLineCount != first.badLineCount ||
        hivestore::serialiseHive(pieces.tree, name) != written)
        fail("reading in pieces differs from reading at once");
    return 0;
}

int journal(const std::uint8_t* data, std::size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    batchjournal::Journal parsed;
    if (!batchjournal::parse(text, parsed))
        return 0;
    for (const batchjournal::Entry& e : parsed.entries) {
        for (const QByteArray* name : {&e.oldName, &e.newName})
            if (name->isEmpty() || name->contains('/') || name->contains('\0') || *name == "." ||
                *name == "..")
                fail("a journal entry names something outside its folder");
        if (e.oldName == e.newName || e.tempName == e.oldName || e.tempName == e.newName)
            fail("a journal entry could make the replay drop a file");
    }
    return 0;
}

Entry entryFor(std::string_view target) {
    if (target == "loader")
        return loader;
    if (target == "jpegscan")
        return jpegScan;
    if (target == "hive")
        return hive;
    if (target == "journal")
        return journal;
    return nullptr;
}

} // namespace tavlin::fuzz
