#pragma once

#include <system_error>

#include <QLockFile>
#include <QString>

namespace tavlin::hivestore {

// Takes the hive's lock, or says why it cannot be had. A lock that can never be taken (its
// name is a folder, a left-behind lock that cannot be removed, a folder that takes no new file,
// a full disk) is known after the first try; only a live holder is waited for, up to
// kLockWait, after which the error is resource_unavailable_try_again.
std::error_code acquireLock(QLockFile& lock, const QString& lockPath);

} // namespace tavlin::hivestore
