#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace tavlin::hivestore {

// Limits that keep a hive of any content bounded in memory and time. They follow the
// registry's own: 255-character key names, 16,383-character value names, keys 512 deep.
namespace limits {
inline constexpr qsizetype maxKeyName = 255;
inline constexpr qsizetype maxValueName = 16383;
inline constexpr qsizetype maxDepth = 512;
// A value larger than this is refused rather than held; settings are short texts.
inline constexpr qsizetype maxValueBytes = qsizetype(1) << 20;
// One logical line of the file: a value of the largest size written as escaped text or as
// a hex list spread over continuation lines, with its name.
inline constexpr qsizetype maxLineBytes = 4 * maxValueBytes + 4 * maxValueName + 4096;
// All keys and values of one hive, and all their bytes: what lies beyond is left out (and the
// file is kept as a dated copy before it is next saved).
inline constexpr qsizetype maxItems = 1'000'000;
inline constexpr qsizetype maxStoredBytes = qsizetype(64) << 20;
} // namespace limits

// One value of a key; `name` keeps the letter case it was first written with.
struct HiveValue {
    QString name;
    std::uint32_t type = 0;
    QByteArray data;
};

// One key: its name as first spelled, its values and its subkeys, both indexed by
// case-folded name.
struct HiveKeyEntry {
    QString name;
    std::map<QString, HiveValue> values;
    std::map<QString, std::unique_ptr<HiveKeyEntry>> children;
};

// A whole hive in memory. The hive's own root is the entry with the empty path and is
// always present. Held as a tree, so a deep key costs one entry per level.
class HiveTree {
public:
    HiveTree();

    const HiveKeyEntry* find(const QStringList& path) const;
    HiveKeyEntry* find(const QStringList& path);
    // Creates every missing key along `path`; true when the last one was new. `made`, when
    // given, is increased by the number of keys created.
    bool create(const QStringList& path, qsizetype* made = nullptr);
    HiveKeyEntry& root() { return *root_; }
    const HiveKeyEntry& root() const { return *root_; }

private:
    std::unique_ptr<HiveKeyEntry> root_;
};

// Names compare case-blind, as the registry's do.
QString foldName(const QString& name);

// The result of reading a hive file: every line that parsed, and the 1-based numbers of the
// lines that did not (their content is left out of `tree`). `badLineCount` counts them all;
// `badLines` lists the first few hundred, enough to tell a person where to look.
struct HiveParse {
    HiveTree tree;
    QList<qint64> badLines;
    qint64 badLineCount = 0;
    // Values left out because they were larger than limits::maxValueBytes.
    qint64 oversizedValues = 0;
    // Key headers left out because their path was deeper than limits::maxDepth.
    qint64 tooDeepKeys = 0;
};

// Reads the regedit text form piece by piece, so a file of any size and any content is read
// with bounded memory beyond what it validly holds: a line longer than any value can need
// is skipped as it streams past.
class HiveReader {
public:
    explicit HiveReader(const QString& hiveName);
    ~HiveReader();
    HiveReader(const HiveReader&) = delete;
    HiveReader& operator=(const HiveReader&) = delete;

    void feed(const char* data, qsizetype size);
    HiveParse finish();

private:
    struct State;
    std::unique_ptr<State> d;
};

// Reads the regedit text form of the hive called `hiveName` (e.g. "HKEY_CURRENT_USER").
HiveParse parseHive(const QByteArray& text, const QString& hiveName);

// Writes the regedit text form: a header line, then one "[hive\path]" section per key with
// its values. What a quoted string cannot hold exactly is written as hex(N).
QByteArray serialiseHive(const HiveTree& tree, const QString& hiveName);

// True when `name` can be a key's name: 1 to 255 characters, no backslash (the path
// separator), no control characters (they would break the line-based file).
bool isStorableName(const QString& name);
// True when `name` can be a value's name: up to 16,383 characters without control characters.
bool isStorableValueName(const QString& name);

} // namespace tavlin::hivestore
