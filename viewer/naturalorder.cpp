#include "viewer/naturalorder.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <optional>
#include <vector>

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>

namespace tavlin {

namespace {

bool isAsciiDigit(char16_t c) {
    return c >= '0' && c <= '9';
}

bool isAscii(const QString& s) {
    const char16_t* p = reinterpret_cast<const char16_t*>(s.constData());
    return std::all_of(p, p + s.size(), [](char16_t c) { return c < 0x80; });
}

QCollator makeCollator() {
    // The C locale would collate by code point; names still want a person's order.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

// Reached from worker threads too: QCollator is not thread-safe, so each thread has its own.
QCollator& collator() {
    thread_local QCollator c = makeCollator();
    return c;
}

// Each ASCII character's rank in the collator's order (0: ignored by it), so that plain
// ASCII names compare by a table instead of the collator.
struct AsciiRanks {
    std::array<char16_t, 128> rank{};
    char16_t digit = 0;
};

const AsciiRanks& asciiRanks() {
    static const AsciiRanks ranks = [] {
        QCollator c = makeCollator();
        std::vector<char16_t> chars;
        for (char16_t ch = 1; ch < 128; ++ch)
            if (!isAsciiDigit(ch) || ch == '0')
                chars.push_back(ch);
        auto str = [](char16_t ch) { return QString(QChar(ch)); };
        std::stable_sort(chars.begin(), chars.end(),
                         [&](char16_t a, char16_t b) { return c.compare(str(a), str(b)) < 0; });
        AsciiRanks r;
        char16_t next = 0;
        for (std::size_t i = 0; i < chars.size(); ++i) {
            const char16_t ch = chars[i];
            if (c.compare(str(ch), QString()) == 0) // ignorable, as control characters are
                continue;
            if (i == 0 || c.compare(str(chars[i - 1]), str(ch)) != 0)
                ++next;
            r.rank[ch] = next;
        }
        r.digit = r.rank['0'];
        for (char16_t d = '1'; d <= '9'; ++d)
            r.rank[d] = r.digit;
        return r;
    }();
    return ranks;
}

// The fast key of an ASCII name: each character's rank, and each run of digits as the
// digit rank, the count of its significant digits, then those digits, so that runs
// compare by value and a plain comparison of keys gives the collator's order.
QString asciiKey(const QString& name) {
    const AsciiRanks& r = asciiRanks();
    const char16_t* p = reinterpret_cast<const char16_t*>(name.constData());
    const qsizetype n = name.size();
    QString key;
    key.reserve(n + 4);
    for (qsizetype i = 0; i < n;) {
        if (!isAsciiDigit(p[i])) {
            if (const char16_t rank = r.rank[p[i]])
                key.append(QChar(rank));
            ++i;
            continue;
        }
        while (i < n && p[i] == '0')
            ++i;
        qsizetype end = i;
        while (end < n && isAsciiDigit(p[end]))
            ++end;
        key.append(QChar(r.digit));
        key.append(QChar(char16_t(std::min<qsizetype>(end - i, 0xFFFF))));
        key.append(QStringView(p + i, end - i));
        i = end;
    }
    return key;
}

int sign(int v) {
    return (v > 0) - (v < 0);
}

} // namespace

int compareNatural(const QString& a, const QString& b) {
    if (isAscii(a) && isAscii(b))
        return sign(asciiKey(a).compare(asciiKey(b)));
    return sign(collator().compare(a, b));
}

void sortNatural(QStringList& names) {
    if (names.size() < 2)
        return;
    std::vector<qsizetype> order(std::size_t(names.size()));
    std::iota(order.begin(), order.end(), 0);
    auto tie = [&](qsizetype a, qsizetype b) { return names.at(a) < names.at(b); };

    if (std::all_of(names.cbegin(), names.cend(), isAscii)) {
        // Keys side by side with their positions, compared inline: most names of a folder
        // share a prefix and differ a few characters in, where the loop ends.
        struct Item {
            QString key;
            qsizetype index;
        };
        std::vector<Item> items;
        items.reserve(order.size());
        for (qsizetype i = 0; i < names.size(); ++i)
            items.push_back({asciiKey(names.at(i)), i});
        std::sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
            const char16_t* p = reinterpret_cast<const char16_t*>(a.key.constData());
            const char16_t* q = reinterpret_cast<const char16_t*>(b.key.constData());
            const qsizetype n = std::min(a.key.size(), b.key.size());
            for (qsizetype i = 0; i < n; ++i)
                if (p[i] != q[i])
                    return p[i] < q[i];
            if (a.key.size() != b.key.size())
                return a.key.size() < b.key.size();
            return tie(a.index, b.index);
        });
        for (std::size_t i = 0; i < items.size(); ++i)
            order[i] = items[i].index;
    } else {
        QCollator& c = collator();
        std::vector<QCollatorSortKey> keys;
        keys.reserve(order.size());
        for (const QString& name : names)
            keys.push_back(c.sortKey(name));
        std::sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
            const int k = keys[a].compare(keys[b]);
            return k != 0 ? k < 0 : tie(a, b);
        });
    }
    QStringList sorted;
    sorted.reserve(names.size());
    for (const qsizetype i : order)
        sorted.append(std::move(names[i]));
    names = std::move(sorted);
}

} // namespace tavlin
