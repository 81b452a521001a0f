#include "fileops/batchjournal.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QList>

#include "fileops/rename.h"
#include "platform/filenames.h"
#include "platform/regularfile.h"

namespace tavlin::batchjournal {

namespace {

constexpr char kHeader[] = "tavlin-batch-rename 1";

// The longest name a file system entry can have.
constexpr qsizetype kMaxNameBytes = NAME_MAX;
// Stands for an empty field; "*" is always percent-encoded inside a name.
constexpr char kEmpty[] = "*";

QByteArray encodeField(const QByteArray& name) {
    return name.isEmpty() ? QByteArray(kEmpty) : name.toPercentEncoding();
}

QByteArray decodeField(const QByteArray& field) {
    return field == kEmpty ? QByteArray() : QByteArray::fromPercentEncoding(field);
}

QByteArray serialise(const Journal& journal) {
    QByteArray text;
    text.reserve(64 + qsizetype(journal.entries.size()) * 64);
    text += kHeader;
    text += "\nphase " + QByteArray::number(journal.phase);
    text += "\ncount " + QByteArray::number(qsizetype(journal.entries.size())) + '\n';
    for (const Entry& e : journal.entries) {
        text += "e ";
        text += encodeField(e.oldName);
        text += ' ';
        text += encodeField(e.tempName);
        text += ' ';
        text += encodeField(e.newName);
        text += '\n';
    }
    text += "end\n";
    return text;
}

// A name the replay may act on: one entry of this folder, never a path out of it.
bool isPlainName(const QByteArray& name) {
    return !name.isEmpty() && name.size() <= kMaxNameBytes && !name.contains('/') &&
           !name.contains('\0') && name != "." && name != "..";
}

// What the writer guarantees of an entry; anything else did not come from a batch and could
// make the replay drop a file (a direct move of a name onto itself, a parked name that is
// also the old or new one).
bool isSoundEntry(const Entry& e) {
    if (!isPlainName(e.oldName) || !isPlainName(e.newName) || e.oldName == e.newName)
        return false;
    if (e.tempName.isEmpty())
        return decodeFileName(e.oldName).toCaseFolded() !=
               decodeFileName(e.newName).toCaseFolded();
    return isPlainName(e.tempName) && e.tempName != e.oldName && e.tempName != e.newName;
}

// Reads the journal line by line as it streams in, so a damaged file of any size costs no
// more memory than its valid entries; the first line that is out of place ends the read.
class Parser {
public:
    // False once the journal is known to be damaged.
    bool feed(const char* data, qsizetype size) {
        while (size > 0 && !damaged_) {
            const auto* newline = static_cast<const char*>(std::memchr(data, '\n', size_t(size)));
            const qsizetype piece = newline ? newline - data : size;
            if (line_.size() + piece > kMaxLineBytes)
                return fail();
            line_.append(data, piece);
            if (!newline)
                break;
            take(line_);
            line_.clear();
            data += piece + 1;
            size -= piece + 1;
        }
        return !damaged_;
    }
    bool finish(Journal& journal) {
        if (damaged_ || !line_.isEmpty() || state_ != State::Done)
            return false;
        journal = std::move(journal_);
        return true;
    }

private:
    enum class State { Header, Phase, Count, Entries, Done };
    static constexpr qsizetype kMaxLineBytes = 8 + 3 * (3 * kMaxNameBytes + 1);

    bool fail() {
        damaged_ = true;
        return false;
    }
    void take(const QByteArray& line) {
        bool ok = false;
        switch (state_) {
        case State::Header:
            if (line != kHeader) {
                fail();
                return;
            }
            state_ = State::Phase;
            return;
        case State::Phase:
            journal_.phase = line.startsWith("phase ") ? line.mid(6).toInt(&ok) : 0;
            if (!ok || (journal_.phase != 1 && journal_.phase != 2)) {
                fail();
                return;
            }
            state_ = State::Count;
            return;
        case State::Count:
            count_ = line.startsWith("count ") ? line.mid(6).toLongLong(&ok) : -1;
            if (!ok || count_ < 0 || line.mid(6) != QByteArray::number(count_)) {
                fail();
                return;
            }
            // The count is only a claim: room grows with the entries actually read.
            journal_.entries.reserve(size_t(std::min<qint64>(count_, 4096)));
            state_ = State::Entries;
            return;
        case State::Entries:
            if (line == "end") {
                if (qint64(journal_.entries.size()) != count_)
                    fail();
                state_ = State::Done;
                return;
            }
            if (qint64(journal_.entries.size()) >= count_)
                fail();
            else
                entry(line);
            return;
        case State::Done:
            fail();
            return;
        }
    }
    void entry(const QByteArray& line) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 4 || fields[0] != "e") {
            fail();
            return;
        }
        Entry e{decodeField(fields[1]), decodeField(fields[2]), decodeField(fields[3])};
        if (!isSoundEntry(e)) {
            fail();
            return;
        }
        journal_.entries.push_back(std::move(e));
    }

    State state_ = State::Header;
    QByteArray line_;
    Journal journal_;
    qint64 count_ = 0;
    bool damaged_ = false;
};

} // namespace

int write(int dirFd, const Journal& journal) {
    // Never through a link or into a pipe planted under the journal's name.
    const int fd = ::openat(dirFd, kTempFileName,
                            O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    int error = fsops::writeAll(fd, serialise(journal));
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    // The journal is our own file, so replacing the previous one is what we want here.
    if (error == 0 && ::renameat(dirFd, kTempFileName, dirFd, kFileName) != 0)
        error = errno;
    if (error != 0) {
        ::unlinkat(dirFd, kTempFileName, 0);
        return error;
    }
    return ::fsync(dirFd) == 0 ? 0 : errno;
}

ReadResult read(int dirFd) {
    ReadResult result;
    // A pipe or device planted under the journal's name is refused, never waited on.
    const int fd = openRegularFileAt(dirFd, kFileName);
    if (fd < 0) {
        result.error = errno;
        result.status = result.error == ENOENT ? ReadStatus::Absent : ReadStatus::Unreadable;
        return result;
    }
    Parser parser;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.error = errno;
            result.status = ReadStatus::Unreadable;
            ::close(fd);
            return result;
        }
        // A damaged journal is known at its first bad line; the rest need not be read.
        if (n == 0 || !parser.feed(buffer, n))
            break;
    }
    ::close(fd);
    result.status = parser.finish(result.journal) ? ReadStatus::Ok : ReadStatus::Damaged;
    return result;
}

bool parse(const QByteArray& text, Journal& journal) {
    Parser parser;
    parser.feed(text.constData(), text.size());
    return parser.finish(journal);
}

void remove(int dirFd) {
    ::unlinkat(dirFd, kTempFileName, 0);
    ::unlinkat(dirFd, kFileName, 0);
    ::fsync(dirFd);
}

} // namespace tavlin::batchjournal
