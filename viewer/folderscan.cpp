#include "viewer/folderscan.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace tavlin {

FolderEntries scanFolder(const QString& path, std::error_code& error) {
    FolderEntries entries;
    error.clear();
    if (path.isEmpty()) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
        return entries;
    }
    fs::directory_iterator it(fs::path(path.toStdString()), error);
    if (error)
        return entries;
    for (const fs::directory_iterator end; it != end; it.increment(error)) {
        if (error)
            return {};
        const fs::directory_entry& entry = *it;
        const QString name = QString::fromStdString(entry.path().filename().string());
        if (name.startsWith(QLatin1Char('.')))
            continue;
        std::error_code typeError;
        // The entry's type comes from the directory read itself where the file
        // system reports it, so a large folder costs no stat per file.
        if (entry.is_directory(typeError))
            entries.folders.append(name);
        else if (entry.is_regular_file(typeError))
            entries.files.append(name);
    }
    return entries;
}

int compareNatural(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            // Compare runs of digits by value: skip leading zeros, then the
            // longer run is larger, then the first differing digit decides.
            qsizetype ia = i, jb = j;
            while (ia < a.size() && a[ia] == QLatin1Char('0'))
                ++ia;
            while (jb < b.size() && b[jb] == QLatin1Char('0'))
                ++jb;
            qsizetype ea = ia, eb = jb;
            while (ea < a.size() && a[ea].isDigit())
                ++ea;
            while (eb < b.size() && b[eb].isDigit())
                ++eb;
            if (ea - ia != eb - jb)
                return ea - ia < eb - jb ? -1 : 1;
            const int digits = QStringView(a).mid(ia, ea - ia).compare(QStringView(b).mid(jb, eb - jb));
            if (digits != 0)
                return digits;
            i = ea;
            j = eb;
            continue;
        }
        const QChar ca = a[i].toCaseFolded();
        const QChar cb = b[j].toCaseFolded();
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return 0;
}

void sortNatural(QStringList& names) {
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int order = compareNatural(a, b);
        return order != 0 ? order < 0 : a < b;
    });
}

NamePattern::NamePattern(const QString& patterns) {
    for (const QString& p : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString pattern = p.trimmed();
        const QString rest = pattern.mid(1);
        if (pattern.startsWith(QLatin1Char('*')) && !rest.contains(QLatin1Char('*')) &&
            !rest.contains(QLatin1Char('?')) && !rest.contains(QLatin1Char('[')))
            m_suffixes.append(rest);
        else
            m_wildcards.append(pattern);
    }
}

bool NamePattern::matches(const QString& name) const {
    for (const QString& suffix : m_suffixes)
        if (name.size() > suffix.size() && name.endsWith(suffix, Qt::CaseInsensitive))
            return true;
    for (const QString& wildcard : m_wildcards) {
        const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(wildcard),
                                    QRegularExpression::CaseInsensitiveOption);
        if (re.match(name).hasMatch())
            return true;
    }
    return false;
}

QString joinPath(const QString& folder, const QString& name) {
    if (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QDir::separator()))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

} // namespace tavlin
