#pragma once

#include <chrono>
#include <system_error>

#include <QByteArray>
#include <QString>

namespace tavlin::hivestore {

// The lock beside a hive file that serialises the saves of all processes. It is held by
// whoever holds an exclusive flock on the file its name holds; a lock file that no live
// process holds was left behind by one that ended, and is taken over at once. The file says
// who holds it in QLockFile's form (pid, program, host), and QLockFile's holders also hold
// the flock, so a copy of the program that locks with QLockFile is kept out as well.
//
// The name is only ever opened as a regular file and never waited on: a pipe, a device or a
// folder put there is "in the way" (is_a_directory), not something to block on.
class HiveLock {
public:
    HiveLock() = default;
    ~HiveLock();
    HiveLock(const HiveLock&) = delete;
    HiveLock& operator=(const HiveLock&) = delete;

    // Takes the lock at `lockPath`, or says why it cannot be had. A lock that can never be
    // taken (something else in its place, a left-behind lock that cannot be removed, a folder
    // that takes no new file, a full disk) is known at the first try. Only live holders are
    // waited for: one holder up to `wait`, and holders in turn (other saves that take and
    // let go of the lock meanwhile) up to `longest` in all; then the error is
    // resource_unavailable_try_again.
    std::error_code acquire(const QString& lockPath, std::chrono::milliseconds wait,
                            std::chrono::milliseconds longest);

private:
    QByteArray native_;
    int fd_ = -1;
};

} // namespace tavlin::hivestore
