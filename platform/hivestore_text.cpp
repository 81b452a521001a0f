#include "platform/hivestore_text.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include <QStringDecoder>

namespace tavlin::hivestore {

namespace {

constexpr std::uint32_t kTypeSz = 1;
constexpr std::uint32_t kTypeBinary = 3;
constexpr std::uint32_t kTypeDword = 4;
// Hex lines are wrapped like regedit's so a long value stays readable.
constexpr int kHexWrapColumn = 76;

bool isControl(QChar c) {
    return c.unicode() < 0x20 || c.unicode() == 0x7f;
}

std::optional<QString> decodeUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString escapeQuoted(const QString& text) {
    QString out;
    out.reserve(text.size() + 2);
    out += u'"';
    for (QChar c : text) {
        if (c == u'\\' || c == u'"')
            out += u'\\';
        out += c;
    }
    out += u'"';
    return out;
}

// Reads a quoted string starting at `pos` (which holds the opening quote); on success `pos`
// ends just past the closing quote.
std::optional<QString> readQuoted(const QString& line, qsizetype& pos) {
    if (pos >= line.size() || line[pos] != u'"')
        return std::nullopt;
    QString out;
    for (qsizetype i = pos + 1; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == u'"') {
            pos = i + 1;
            return out;
        }
        if (c == u'\\') {
            if (i + 1 >= line.size() || (line[i + 1] != u'\\' && line[i + 1] != u'"'))
                return std::nullopt;
            out += line[++i];
        } else {
            out += c;
        }
    }
    return std::nullopt;
}

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

std::optional<QByteArray> readHexBytes(QStringView list) {
    QByteArray out;
    list = list.trimmed();
    if (list.isEmpty())
        return out;
    out.reserve(list.size() / 3 + 1);
    for (qsizetype pos = 0;;) {
        qsizetype end = list.indexOf(u',', pos);
        const QStringView token = list.mid(pos, (end < 0 ? list.size() : end) - pos).trimmed();
        const int high = token.size() == 2 ? hexDigit(token[0]) : -1;
        const int low = token.size() == 2 ? hexDigit(token[1]) : -1;
        if (high < 0 || low < 0)
            return std::nullopt;
        out.append(char(high * 16 + low));
        if (end < 0)
            return out;
        pos = end + 1;
    }
}

// Parses what follows the '=' of a value line.
std::optional<HiveValue> readData(const QString& text) {
    HiveValue value;
    if (text.startsWith(u'"')) {
        qsizetype pos = 0;
        const auto s = readQuoted(text, pos);
        if (!s || !QStringView(text).mid(pos).trimmed().isEmpty())
            return std::nullopt;
        value.type = kTypeSz;
        value.data = s->toUtf8();
        value.data.append('\0');
        return value;
    }
    if (text.startsWith(QLatin1String("dword:"))) {
        const QStringView digits = QStringView(text).mid(6).trimmed();
        bool ok = false;
        const uint n = digits.toUInt(&ok, 16);
        if (!ok || digits.size() != 8)
            return std::nullopt;
        value.type = kTypeDword;
        for (int i = 0; i < 4; ++i)
            value.data.append(char((n >> (8 * i)) & 0xff));
        return value;
    }
    qsizetype listStart = -1;
    if (text.startsWith(QLatin1String("hex:"))) {
        value.type = kTypeBinary;
        listStart = 4;
    } else if (text.startsWith(QLatin1String("hex("))) {
        const qsizetype close = text.indexOf(QLatin1String("):"));
        if (close < 0)
            return std::nullopt;
        bool ok = false;
        const QStringView digits = QStringView(text).mid(4, close - 4);
        value.type = close > 4 ? digits.toUInt(&ok, 16) : 0;
        if (!ok || digits.size() > 8)
            return std::nullopt;
        listStart = close + 2;
    } else {
        return std::nullopt;
    }
    const auto bytes = readHexBytes(QStringView(text).mid(listStart));
    if (!bytes)
        return std::nullopt;
    value.data = *bytes;
    return value;
}

bool isPlainText(const HiveValue& value) {
    if (value.type != kTypeSz || !value.data.endsWith('\0'))
        return false;
    const QByteArrayView body(value.data.constData(), value.data.size() - 1);
    if (body.contains('\0'))
        return false;
    const auto text = decodeUtf8(body);
    return text && std::none_of(text->begin(), text->end(), isControl);
}

QByteArray valueName(const HiveValue& value) {
    return value.name.isEmpty() ? QByteArray("@") : escapeQuoted(value.name).toUtf8();
}

void appendHexData(QByteArray& out, const HiveValue& value, qsizetype column) {
    static constexpr char digits[] = "0123456789abcdef";
    const QByteArray tag = value.type == kTypeBinary
                               ? QByteArray("hex:")
                               : "hex(" + QByteArray::number(value.type, 16) + "):";
    out += tag;
    column += tag.size();
    for (qsizetype i = 0; i < value.data.size(); ++i) {
        const auto byte = uchar(value.data[i]);
        out += digits[byte >> 4];
        out += digits[byte & 15];
        column += 2;
        if (i + 1 < value.data.size()) {
            out += ',';
            ++column;
            if (column >= kHexWrapColumn) {
                out += "\\\n  ";
                column = 2;
            }
        }
    }
}

void serialiseKey(QByteArray& out, const HiveKeyEntry& key, QByteArray& header, bool isRoot) {
    // The hive itself needs no section unless it holds values.
    if (!isRoot || !key.values.empty()) {
        out += "\n[" + header + "]\n";
        for (const auto& [foldedName, value] : key.values) {
            const QByteArray name = valueName(value) + '=';
            out += name;
            if (isPlainText(value))
                out +=
                    escapeQuoted(QString::fromUtf8(value.data.constData(), value.data.size() - 1))
                        .toUtf8();
            else
                appendHexData(out, value, name.size());
            out += '\n';
        }
    }
    const qsizetype length = header.size();
    for (const auto& [folded, child] : key.children) {
        header += '\\' + child->name.toUtf8();
        serialiseKey(out, *child, header, false);
        header.truncate(length);
    }
}

// Where a line of the file starts a key's section, whatever else it holds.
bool looksLikeHeader(QByteArrayView start) {
    for (char c : start) {
        if (c == ' ' || c == '\t' || c == '\r')
            continue;
        return c == '[';
    }
    return false;
}

// True when the header line `raw` names a path of more than limits::maxDepth keys below
// the hive. Only the separators are counted, and only up to the first one past the limit. A
// backslash byte never occurs inside a multi-byte UTF-8 character, so the count is the same
// as on the decoded line.
bool deeperThanKeysGo(QByteArrayView raw) {
    const char* at = raw.data();
    const char* const end = at + raw.size();
    for (qsizetype separators = 0; at < end; ++at) {
        at = static_cast<const char*>(std::memchr(at, '\\', size_t(end - at)));
        if (!at)
            return false;
        if (++separators > limits::maxDepth)
            return true;
    }
    return false;
}

} // namespace

QString foldName(const QString& name) {
    return name.toCaseFolded();
}

bool isStorableValueName(const QString& name) {
    return name.size() <= limits::maxValueName && std::none_of(name.begin(), name.end(), isControl);
}

bool isStorableName(const QString& name) {
    return !name.isEmpty() && name.size() <= limits::maxKeyName && !name.contains(u'\\') &&
           std::none_of(name.begin(), name.end(), isControl);
}

HiveTree::HiveTree() : root_(std::make_unique<HiveKeyEntry>()) {}

const HiveKeyEntry* HiveTree::find(const QStringList& path) const {
    const HiveKeyEntry* key = root_.get();
    for (const QString& part : path) {
        const auto it = key->children.find(foldName(part));
        if (it == key->children.end())
            return nullptr;
        key = it->second.get();
    }
    return key;
}

HiveKeyEntry* HiveTree::find(const QStringList& path) {
    return const_cast<HiveKeyEntry*>(std::as_const(*this).find(path));
}

bool HiveTree::create(const QStringList& path, qsizetype* made) {
    bool created = false;
    HiveKeyEntry* key = root_.get();
    for (const QString& part : path) {
        auto& slot = key->children[foldName(part)];
        created = !slot;
        if (created) {
            slot = std::make_unique<HiveKeyEntry>();
            slot->name = part;
            if (made)
                ++*made;
        }
        key = slot.get();
    }
    return created;
}

struct HiveReader::State {
    QString hiveName;
    HiveParse result;
    // The physical line being assembled from fed pieces.
    QByteArray pending;
    bool overlong = false;
    bool overlongHeader = false;
    qint64 lineNumber = 0;
    // The key that value lines belong to; null before the first header and after a bad one.
    HiveKeyEntry* current = nullptr;
    // A hex list continued over following lines.
    bool continuing = false;
    bool continuationBroken = false;
    QString logical;
    QList<qint64> used;
    qsizetype items = 0;
    qsizetype storedBytes = 0;

    void bad(qint64 line) {
        ++result.badLineCount;
        if (result.badLines.size() < kListedBadLines)
            result.badLines.append(line);
    }
    void physical(QByteArrayView raw);
    void overlongLine();
    void logicalLine(const QString& line, const QList<qint64>& lines);
    void header(const QString& line, qint64 number);
    void finishContinuation();

    static constexpr qsizetype kListedBadLines = 200;
};

void HiveReader::State::overlongLine() {
    ++lineNumber;
    if (continuing) {
        used.append(lineNumber);
        continuationBroken = true;
        finishContinuation();
        return;
    }
    // An unreadable header still ends the section before it.
    if (overlongHeader)
        current = nullptr;
    bad(lineNumber);
}

void HiveReader::State::physical(QByteArrayView raw) {
    ++lineNumber;
    if (raw.endsWith('\r'))
        raw.chop(1);
    if (lineNumber == 1 && raw.startsWith("\xEF\xBB\xBF"))
        raw = raw.sliced(3);
    if (continuing) {
        used.append(lineNumber);
        logical.chop(1);
        const auto decoded = decodeUtf8(raw);
        if (!decoded || logical.size() + raw.size() > limits::maxLineBytes)
            continuationBroken = true;
        else
            logical += decoded->trimmed();
        if (continuationBroken || !logical.endsWith(u'\\'))
            finishContinuation();
        return;
    }
    const bool headerLike = looksLikeHeader(raw.first(std::min<qsizetype>(raw.size(), 64)));
    // A path deeper than a key may go is refused once its separators pass the limit, before
    // the line is decoded or split: a file of ever deeper headers would otherwise cost work
    // for every level of every line.
    const bool tooDeep = headerLike && deeperThanKeysGo(raw);
    const auto decoded = tooDeep ? std::nullopt : decodeUtf8(raw);
    if (!decoded) {
        // An unreadable header still ends the section before it.
        if (headerLike)
            current = nullptr;
        result.tooDeepKeys += tooDeep;
        bad(lineNumber);
        return;
    }
    const QString line = decoded->trimmed();
    if (line.isEmpty() || line.startsWith(u';') ||
        line == QLatin1String("Windows Registry Editor Version 5.00") ||
        line == QLatin1String("REGEDIT4"))
        return;
    if (line.startsWith(u'[')) {
        header(line, lineNumber);
        return;
    }
    // A hex list may go on over following lines, each ending in a backslash.
    if (line.endsWith(u'\\') && line.contains(QLatin1String("=hex"))) {
        continuing = true;
        continuationBroken = false;
        logical = line;
        used = {lineNumber};
        return;
    }
    logicalLine(line, {lineNumber});
}

void HiveReader::State::finishContinuation() {
    continuing = false;
    if (continuationBroken) {
        for (qint64 n : used)
            bad(n);
    } else {
        logicalLine(logical, used);
    }
    logical.clear();
    used.clear();
}

void HiveReader::State::header(const QString& line, qint64 number) {
    current = nullptr;
    const QStringList parts = line.endsWith(u']') && line.size() >= 2
                                  ? line.mid(1, line.size() - 2).split(u'\\')
                                  : QStringList();
    const bool ok = !parts.isEmpty() && parts.size() - 1 <= limits::maxDepth &&
                    foldName(parts.first()) == foldName(hiveName) &&
                    std::all_of(parts.begin() + 1, parts.end(), isStorableName);
    if (!ok) {
        bad(number);
        return;
    }
    const QStringList path = parts.mid(1);
    HiveKeyEntry* key = result.tree.find(path);
    if (!key) {
        if (items >= limits::maxItems) {
            bad(number);
            return;
        }
        result.tree.create(path, &items);
        key = result.tree.find(path);
    }
    current = key;
}

void HiveReader::State::logicalLine(const QString& line, const QList<qint64>& lines) {
    std::optional<HiveValue> value;
    qsizetype pos = 0;
    std::optional<QString> name;
    if (line.startsWith(u'@')) {
        name = QString();
        pos = 1;
    } else {
        name = readQuoted(line, pos);
    }
    if (current && name && isStorableValueName(*name) && pos < line.size() && line[pos] == u'=')
        value = readData(line.mid(pos + 1));
    if (value && value->data.size() > limits::maxValueBytes) {
        ++result.oversizedValues;
        value.reset();
    }
    if (!value) {
        for (qint64 n : lines)
            bad(n);
        return;
    }
    const QString folded = foldName(*name);
    const auto existing = current->values.find(folded);
    const bool isNew = existing == current->values.end();
    const qsizetype replaced = isNew ? 0 : existing->second.data.size();
    if ((isNew && items >= limits::maxItems) ||
        storedBytes - replaced + value->data.size() > limits::maxStoredBytes) {
        for (qint64 n : lines)
            bad(n);
        return;
    }
    storedBytes += value->data.size() - replaced;
    value->name = *name;
    if (isNew) {
        ++items;
        current->values.emplace(folded, std::move(*value));
    } else {
        existing->second = std::move(*value);
    }
}

HiveReader::HiveReader(const QString& hiveName) : d(std::make_unique<State>()) {
    d->hiveName = hiveName;
}

HiveReader::~HiveReader() = default;

void HiveReader::feed(const char* data, qsizetype size) {
    while (size > 0) {
        const auto* newline = static_cast<const char*>(std::memchr(data, '\n', size_t(size)));
        const qsizetype piece = newline ? newline - data : size;
        if (!d->overlong && d->pending.size() + piece > limits::maxLineBytes) {
            // Too long for any value: remember only whether it began a section, and let the
            // rest stream past without holding it.
            const QByteArrayView start =
                d->pending.isEmpty()
                    ? QByteArrayView(data, std::min<qsizetype>(piece, 64))
                    : QByteArrayView(d->pending).first(std::min<qsizetype>(d->pending.size(), 64));
            d->overlongHeader = looksLikeHeader(start);
            d->overlong = true;
            d->pending.clear();
            d->pending.squeeze();
        }
        if (!newline) {
            if (!d->overlong)
                d->pending.append(data, piece);
            return;
        }
        if (d->overlong) {
            d->overlong = false;
            d->overlongLine();
        } else if (d->pending.isEmpty()) {
            d->physical(QByteArrayView(data, piece));
        } else {
            d->pending.append(data, piece);
            d->physical(d->pending);
            d->pending.clear();
        }
        data += piece + 1;
        size -= piece + 1;
    }
}

HiveParse HiveReader::finish() {
    // A last line without a line break still counts; an empty piece after the last one does not.
    if (d->overlong) {
        d->overlong = false;
        d->overlongLine();
    } else if (!d->pending.isEmpty()) {
        d->physical(d->pending);
        d->pending.clear();
    }
    if (d->continuing)
        d->finishContinuation();
    HiveParse result = std::move(d->result);
    d = std::make_unique<State>();
    return result;
}

HiveParse parseHive(const QByteArray& text, const QString& hiveName) {
    HiveReader reader(hiveName);
    reader.feed(text.constData(), text.size());
    return reader.finish();
}

QByteArray serialiseHive(const HiveTree& tree, const QString& hiveName) {
    QByteArray out = "Windows Registry Editor Version 5.00\n";
    QByteArray header = hiveName.toUtf8();
    serialiseKey(out, tree.root(), header, true);
    return out;
}

} // namespace tavlin::hivestore
