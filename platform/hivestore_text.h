#pragma once

#include <cstdint>
#include <map>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace tavlin::hivestore {

// One value of a key; `name` keeps the letter case it was first written with.
struct HiveValue {
    QString name;
    std::uint32_t type = 0;
    QByteArray data;
};

// One key: its path as first spelled and its values, indexed by case-folded name.
struct HiveKeyEntry {
    QStringList path;
    std::map<QString, HiveValue> values;
};

// A whole hive in memory, keys indexed by their case-folded path components. The hive's own
// root is the entry with the empty path and is always present.
class HiveTree {
public:
    HiveTree();

    const HiveKeyEntry* find(const QStringList& path) const;
    HiveKeyEntry* find(const QStringList& path);
    // Creates every missing key along `path`; true when the last one was new.
    bool create(const QStringList& path);

    const std::map<QStringList, HiveKeyEntry>& keys() const { return keys_; }

private:
    std::map<QStringList, HiveKeyEntry> keys_;
};

// Names compare case-blind, as the registry's do.
QString foldName(const QString& name);
QStringList foldPath(const QStringList& path);

// The result of reading a hive file: every line that parsed, and the 1-based numbers of the
// lines that did not (their content is left out of `tree`).
struct HiveParse {
    HiveTree tree;
    QList<int> badLines;
};

// Reads the regedit text form of the hive called `hiveName` (e.g. "HKEY_CURRENT_USER").
HiveParse parseHive(const QByteArray& text, const QString& hiveName);

// Writes the regedit text form: a header line, then one "[hive\path]" section per key with
// its values. What a quoted string cannot hold exactly is written as hex(N).
QByteArray serialiseHive(const HiveTree& tree, const QString& hiveName);

// True when `name` can be a key's name: no backslash (the path separator), no control
// characters (they would break the line-based file).
bool isStorableName(const QString& name);
// True when `name` can be a value's name: any text without control characters.
bool isStorableValueName(const QString& name);

} // namespace tavlin::hivestore
