// Replays every input that ever made a fuzz target fail through the same entry function, in
// the ordinary build, so a mended fault stays mended.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "entries.h"

namespace {

const char* const kTargets[] = {"loader", "jpegscan", "hive", "journal", "png",
                                "webp",   "tiff",     "heif", "jxl"};

class Replay : public testing::TestWithParam<const char*> {};

TEST_P(Replay, EveryRegressionInputRunsCleanly) {
    const QDir dir(QStringLiteral(TAVLIN_FUZZ_REGRESSIONS) + u'/' + QLatin1String(GetParam()));
    const tavlin::fuzz::Entry entry = tavlin::fuzz::entryFor(GetParam());
    ASSERT_NE(entry, nullptr);
    const QStringList names = dir.entryList(QDir::Files, QDir::Name);
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        // A failing input aborts the process, which fails this test with the file's name
        // printed first.
        std::fprintf(stderr, "replaying %s/%s\n", GetParam(), qPrintable(name));
        EXPECT_EQ(entry(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                        std::size_t(bytes.size())),
                  0);
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, Replay, testing::ValuesIn(kTargets),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

} // namespace
