#include "platform/hivestore_text.h"

#include <algorithm>
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

std::optional<QByteArray> readHexBytes(QStringView list) {
    QByteArray out;
    if (list.trimmed().isEmpty())
        return out;
    for (QStringView token : list.split(u',')) {
        token = token.trimmed();
        bool ok = false;
        const uint byte = token.toUInt(&ok, 16);
        if (token.size() != 2 || !ok)
            return std::nullopt;
        out.append(char(byte));
    }
    return out;
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

QString valueName(const HiveValue& value) {
    return value.name.isEmpty() ? QStringLiteral("@") : escapeQuoted(value.name);
}

QString hexData(const HiveValue& value, qsizetype column) {
    QString out = value.type == kTypeBinary ? QStringLiteral("hex:")
                                            : QStringLiteral("hex(%1):").arg(value.type, 0, 16);
    column += out.size();
    for (qsizetype i = 0; i < value.data.size(); ++i) {
        const QString byte = QStringLiteral("%1").arg(uchar(value.data[i]), 2, 16, QChar(u'0'));
        out += byte;
        column += 2;
        if (i + 1 < value.data.size()) {
            out += u',';
            ++column;
            if (column >= kHexWrapColumn) {
                out += QLatin1String("\\\n  ");
                column = 2;
            }
        }
    }
    return out;
}

} // namespace

QString foldName(const QString& name) {
    return name.toCaseFolded();
}

QStringList foldPath(const QStringList& path) {
    QStringList folded;
    folded.reserve(path.size());
    for (const QString& part : path)
        folded.append(foldName(part));
    return folded;
}

bool isStorableValueName(const QString& name) {
    return std::none_of(name.begin(), name.end(), isControl);
}

bool isStorableName(const QString& name) {
    return !name.contains(u'\\') && isStorableValueName(name);
}

HiveTree::HiveTree() {
    keys_[QStringList()] = HiveKeyEntry{};
}

const HiveKeyEntry* HiveTree::find(const QStringList& path) const {
    const auto it = keys_.find(foldPath(path));
    return it == keys_.end() ? nullptr : &it->second;
}

HiveKeyEntry* HiveTree::find(const QStringList& path) {
    const auto it = keys_.find(foldPath(path));
    return it == keys_.end() ? nullptr : &it->second;
}

bool HiveTree::create(const QStringList& path) {
    bool created = false;
    for (qsizetype n = 1; n <= path.size(); ++n) {
        const QStringList prefix = path.first(n);
        const auto [it, inserted] = keys_.try_emplace(foldPath(prefix));
        if (inserted)
            it->second.path = prefix;
        created = inserted;
    }
    return created;
}

HiveParse parseHive(const QByteArray& text, const QString& hiveName) {
    HiveParse result;
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.first().startsWith("\xEF\xBB\xBF"))
        lines.first().remove(0, 3);
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();

    // Values under a header that did not parse are lost with it, so they count as bad too.
    std::optional<QStringList> current;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int lineNumber = int(i) + 1;
        QByteArray raw = lines[i];
        if (raw.endsWith('\r'))
            raw.chop(1);
        const auto decoded = decodeUtf8(raw);
        if (!decoded) {
            result.badLines.append(lineNumber);
            continue;
        }
        QString line = decoded->trimmed();
        if (line.isEmpty() || line.startsWith(u';') ||
            line == QLatin1String("Windows Registry Editor Version 5.00") ||
            line == QLatin1String("REGEDIT4"))
            continue;

        if (line.startsWith(u'[')) {
            current.reset();
            const QStringList parts = line.endsWith(u']') && line.size() >= 2
                                          ? line.mid(1, line.size() - 2).split(u'\\')
                                          : QStringList();
            const bool ok = !parts.isEmpty() && foldName(parts.first()) == foldName(hiveName) &&
                            std::all_of(parts.begin() + 1, parts.end(), [](const QString& p) {
                                return !p.isEmpty() && isStorableName(p);
                            });
            if (!ok) {
                result.badLines.append(lineNumber);
                continue;
            }
            current = parts.mid(1);
            result.tree.create(*current);
            continue;
        }

        // A hex list may go on over following lines, each ending in a backslash.
        QList<int> used{lineNumber};
        while (line.endsWith(u'\\') && line.contains(QLatin1String("=hex")) &&
               i + 1 < lines.size()) {
            QByteArray next = lines[++i];
            if (next.endsWith('\r'))
                next.chop(1);
            used.append(int(i) + 1);
            const auto more = decodeUtf8(next);
            line.chop(1);
            line += more ? more->trimmed() : QStringLiteral("\x01");
        }

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
        if (!value) {
            result.badLines.append(used);
            continue;
        }
        value->name = *name;
        result.tree.find(*current)->values[foldName(*name)] = *value;
    }
    return result;
}

QByteArray serialiseHive(const HiveTree& tree, const QString& hiveName) {
    QString out = QStringLiteral("Windows Registry Editor Version 5.00\n");
    for (const auto& [folded, key] : tree.keys()) {
        // The hive itself needs no section unless it holds values.
        if (folded.isEmpty() && key.values.empty())
            continue;
        out += u'\n';
        QStringList header{hiveName};
        header += key.path;
        out += u'[' + header.join(u'\\') + QLatin1String("]\n");
        for (const auto& [foldedName, value] : key.values) {
            const QString name = valueName(value) + u'=';
            out += name;
            if (isPlainText(value))
                out +=
                    escapeQuoted(QString::fromUtf8(value.data.constData(), value.data.size() - 1));
            else
                out += hexData(value, name.size());
            out += u'\n';
        }
    }
    return out.toUtf8();
}

} // namespace tavlin::hivestore
