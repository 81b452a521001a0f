#include "fileops/batchjournal.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QList>

namespace tavlin::batchjournal {

namespace {

constexpr char kHeader[] = "tavlin-batch-rename 1";
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

bool parse(const QByteArray& text, Journal& journal) {
    const QList<QByteArray> lines = text.split('\n');
    // Header, phase, count, the entries, "end" and the empty piece after the last newline.
    if (lines.size() < 5 || lines[0] != kHeader || !lines[1].startsWith("phase ") ||
        !lines[2].startsWith("count ") || lines.back() != "" || lines[lines.size() - 2] != "end")
        return false;
    bool ok = false;
    journal.phase = lines[1].mid(6).toInt(&ok);
    if (!ok || (journal.phase != 1 && journal.phase != 2))
        return false;
    const qsizetype count = lines[2].mid(6).toLongLong(&ok);
    if (!ok || count != lines.size() - 5)
        return false;
    journal.entries.clear();
    journal.entries.reserve(size_t(count));
    for (qsizetype i = 3; i < 3 + count; ++i) {
        const QList<QByteArray> fields = lines[i].split(' ');
        if (fields.size() != 4 || fields[0] != "e")
            return false;
        Entry e{decodeField(fields[1]), decodeField(fields[2]), decodeField(fields[3])};
        if (e.oldName.isEmpty() || e.newName.isEmpty())
            return false;
        journal.entries.push_back(std::move(e));
    }
    return true;
}

int writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += n;
    }
    return 0;
}

} // namespace

int write(int dirFd, const Journal& journal) {
    const int fd = ::openat(dirFd, kTempFileName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    int error = writeAll(fd, serialise(journal));
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
    const int fd = ::openat(dirFd, kFileName, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.error = errno;
        result.status = result.error == ENOENT ? ReadStatus::Absent : ReadStatus::Unreadable;
        return result;
    }
    QByteArray text;
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
        if (n == 0)
            break;
        text.append(buffer, n);
    }
    ::close(fd);
    result.status = parse(text, result.journal) ? ReadStatus::Ok : ReadStatus::Damaged;
    return result;
}

void remove(int dirFd) {
    ::unlinkat(dirFd, kTempFileName, 0);
    ::unlinkat(dirFd, kFileName, 0);
    ::fsync(dirFd);
}

} // namespace tavlin::batchjournal
