#include "platform/filenames.h"

#include <QDir>

namespace tavlin {

namespace {

constexpr char16_t kEscapeBase = 0xDC00; // U+DC80..U+DCFF stand for the bytes 0x80..0xFF

bool isEscape(char16_t c) {
    return c >= 0xDC80 && c <= 0xDCFF;
}

// The length of the valid UTF-8 sequence starting at p (1 to 4), or 0 when the bytes
// there are not one. Overlong forms, encoded surrogates and values past U+10FFFF are
// invalid, so a decoded name never holds a surrogate that is not an escape.
int utf8Sequence(const unsigned char* p, const unsigned char* end, char32_t& code) {
    const unsigned char b0 = p[0];
    if (b0 < 0x80) {
        code = b0;
        return 1;
    }
    auto cont = [&](qsizetype i) { return p + i < end && (p[i] & 0xC0) == 0x80; };
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        if (!cont(1))
            return 0;
        code = char32_t(b0 & 0x1F) << 6 | (p[1] & 0x3F);
        return 2;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (!cont(1) || !cont(2))
            return 0;
        code = char32_t(b0 & 0x0F) << 12 | char32_t(p[1] & 0x3F) << 6 | (p[2] & 0x3F);
        if (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))
            return 0;
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3))
            return 0;
        code = char32_t(b0 & 0x07) << 18 | char32_t(p[1] & 0x3F) << 12 |
               char32_t(p[2] & 0x3F) << 6 | (p[3] & 0x3F);
        if (code < 0x10000 || code > 0x10FFFF)
            return 0;
        return 4;
    }
    return 0;
}

void appendUtf8(QByteArray& out, char32_t c) {
    if (c < 0x80) {
        out.append(char(c));
    } else if (c < 0x800) {
        out.append(char(0xC0 | (c >> 6)));
        out.append(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.append(char(0xE0 | (c >> 12)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    } else {
        out.append(char(0xF0 | (c >> 18)));
        out.append(char(0x80 | ((c >> 12) & 0x3F)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    }
}

} // namespace

QString decodeFileName(const char* bytes, qsizetype size) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    const auto* end = p + size;
    // Most names are plain ASCII: one pass to check, one cheap widening copy.
    const auto* q = p;
    while (q < end && *q < 0x80)
        ++q;
    if (q == end)
        return QString::fromLatin1(bytes, size);

    QString out(size, Qt::Uninitialized);
    char16_t* o = reinterpret_cast<char16_t*>(out.data());
    for (const auto* a = p; a < q; ++a)
        *o++ = *a;
    while (q < end) {
        char32_t code = 0;
        const int n = utf8Sequence(q, end, code);
        if (n == 0) {
            *o++ = char16_t(kEscapeBase + *q);
            ++q;
            continue;
        }
        q += n;
        if (code >= 0x10000) {
            code -= 0x10000;
            *o++ = char16_t(0xD800 + (code >> 10));
            *o++ = char16_t(0xDC00 + (code & 0x3FF));
        } else {
            *o++ = char16_t(code);
        }
    }
    out.truncate(o - reinterpret_cast<char16_t*>(out.data()));
    return out;
}

QString decodeFileName(const QByteArray& name) {
    return decodeFileName(name.constData(), name.size());
}

QByteArray encodeFileName(const QString& name) {
    const char16_t* p = reinterpret_cast<const char16_t*>(name.constData());
    const qsizetype n = name.size();
    QByteArray out;
    out.reserve(n);
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i];
        if (c < 0x80) {
            out.append(char(c));
        } else if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(p[i + 1])) {
            appendUtf8(out, QChar::surrogateToUcs4(c, p[i + 1]));
            ++i;
        } else if (isEscape(c)) {
            out.append(char(c - kEscapeBase));
        } else if (QChar::isSurrogate(c)) {
            // A lone surrogate that no decode produced (typed text): as Qt does, U+FFFD.
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

QString displayFileName(const QString& name) {
    QString shown = name;
    char16_t* p = reinterpret_cast<char16_t*>(shown.data());
    for (qsizetype i = 0; i < shown.size(); ++i) {
        if (QChar::isHighSurrogate(p[i]) && i + 1 < shown.size() && QChar::isLowSurrogate(p[i + 1]))
            ++i;
        else if (QChar::isSurrogate(p[i]))
            p[i] = 0xFFFD;
    }
    return shown;
}

QString absoluteCleanPath(const QString& path) {
    if (path.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(path);
    return QDir::cleanPath(QDir::currentPath() + QLatin1Char('/') + path);
}

} // namespace tavlin
