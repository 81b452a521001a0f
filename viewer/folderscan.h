#pragma once

#include <QString>
#include <QStringList>

#include <system_error>

namespace tavlin {

// The visible entries of one folder: names of subfolders and of regular files,
// hidden ones (a leading dot) left out, in the order the folder gives them.
struct FolderEntries {
    QStringList folders;
    QStringList files;
};

// Reads `path` once. On failure (gone, unreadable, not a folder) `error` is set
// and nothing is returned.
FolderEntries scanFolder(const QString& path, std::error_code& error);

// Orders two names as a person expects: case-blind, digits by value.
int compareNatural(const QString& a, const QString& b);
// Sorts names as a person expects: case-blind, digits by value (IMG2 before IMG10).
void sortNatural(QStringList& names);

// True when `name` matches one of the ";"-separated wildcards, case ignored.
class NamePattern {
public:
    explicit NamePattern(const QString& patterns);
    bool matches(const QString& name) const;

private:
    QStringList m_suffixes; // "*.jpg" kept as ".jpg" for a fast test
    QStringList m_wildcards;
};

// The folder path, "/" unless it already ends in one, and the name.
QString joinPath(const QString& folder, const QString& name);

} // namespace tavlin
