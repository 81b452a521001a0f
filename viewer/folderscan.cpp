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

namespace {
bool isAsciiDigit(QChar c) { return c.unicode() >= '0' && c.unicode() <= '9'; }

// Case folding without a table lookup for the ASCII letters that most names are made of.
char16_t folded(QChar c) {
    const char16_t u = c.unicode();
    if (u < 128)
        return u >= 'A' && u <= 'Z' ? char16_t(u + ('a' - 'A')) : u;
    return c.toCaseFolded().unicode();
}
} // namespace

int compareNatural(const QString& a, const QString& b) {
    const qsizetype na = a.size();
    const qsizetype nb = b.size();
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < na && j < nb) {
        if (isAsciiDigit(a[i]) && isAsciiDigit(b[j])) {
            // Compare runs of digits by value: skip leading zeros, then the
            // longer run is larger, then the first differing digit decides.
            while (i < na && a[i] == QLatin1Char('0'))
                ++i;
            while (j < nb && b[j] == QLatin1Char('0'))
                ++j;
            qsizetype ea = i, eb = j;
            while (ea < na && isAsciiDigit(a[ea]))
                ++ea;
            while (eb < nb && isAsciiDigit(b[eb]))
                ++eb;
            if (ea - i != eb - j)
                return ea - i < eb - j ? -1 : 1;
            for (; i < ea; ++i, ++j)
                if (a[i] != b[j])
                    return a[i] < b[j] ? -1 : 1;
            continue;
        }
        const char16_t ca = folded(a[i]);
        const char16_t cb = folded(b[j]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < na || j < nb)
        return i < na ? 1 : -1;
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
