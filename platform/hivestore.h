#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "platform/hivestore_text.h"

namespace tavlin {

// Root hives, numbered as the registry numbers its predefined handles.
namespace hkey {
inline constexpr std::uint32_t ClassesRoot = 0x80000000u;
inline constexpr std::uint32_t CurrentUser = 0x80000001u;
inline constexpr std::uint32_t LocalMachine = 0x80000002u;
inline constexpr std::uint32_t Users = 0x80000003u;
inline constexpr std::uint32_t PerformanceData = 0x80000004u;
inline constexpr std::uint32_t CurrentConfig = 0x80000005u;
inline constexpr std::uint32_t DynData = 0x80000006u;
} // namespace hkey

// Status codes of the store, the registry's own numbers.
namespace regstatus {
inline constexpr long Success = 0;
inline constexpr long NotFound = 2;
inline constexpr long AccessDenied = 5;
inline constexpr long InvalidHandle = 6;
inline constexpr long WriteFault = 29;
inline constexpr long InvalidParameter = 87;
inline constexpr long BadPathname = 161;
inline constexpr long MoreData = 234;
inline constexpr long KeyDeleted = 1018;
} // namespace regstatus

namespace regaccess {
inline constexpr std::uint32_t QueryValue = 0x0001;
inline constexpr std::uint32_t SetValue = 0x0002;
inline constexpr std::uint32_t CreateSubKey = 0x0004;
inline constexpr std::uint32_t KeyRead = 0x20019;
inline constexpr std::uint32_t KeyWrite = 0x20006;
inline constexpr std::uint32_t KeyAllAccess = 0xF003F;
} // namespace regaccess

namespace regtype {
inline constexpr std::uint32_t None = 0;
inline constexpr std::uint32_t Sz = 1;
inline constexpr std::uint32_t ExpandSz = 2;
inline constexpr std::uint32_t Binary = 3;
inline constexpr std::uint32_t Dword = 4;
} // namespace regtype

namespace regdisposition {
inline constexpr std::uint32_t CreatedNewKey = 1;
inline constexpr std::uint32_t OpenedExistingKey = 2;
} // namespace regdisposition

// A key opened by the store. It holds no file or lock, so a handle never keeps another process
// waiting; reads see the hive file as it is now (read again only when it has changed).
struct HiveKey {
    std::uint32_t hive = 0;
    QStringList path;
    std::uint32_t access = 0;
    bool open = false;
};

// The per-user registry: one regedit-style UTF-8 text file per hive under
// $XDG_CONFIG_HOME/tavlin/registry/. Keys nest by "\", names of keys and values are
// case-blind and case-kept, values are typed bytes. Writes take a lock file, re-read the
// hive, apply only their own change and replace the file atomically, so concurrent
// processes never lose each other's values and a crash leaves the old or the new file.
// A hive file of any content loads what can be loaded within hivestore::limits; a file with
// parts that cannot be read is kept as a dated copy before it is first rewritten.
namespace hivestore {

// How long a write waits for another live process that keeps the lock before it reports
// that the change was not saved: a person at exit waits about this long for a lock that is
// stuck. A lock left by a process that has ended is taken over at once.
inline constexpr std::chrono::milliseconds kLockWait{1000};
// How long a write waits in all while other saves take and let go of the lock in turn: the
// holders change, so none is stuck, and another process saving again and again may win the
// lock many times in a row on a busy machine.
inline constexpr std::chrono::milliseconds kLockWaitInTurn{15000};

// "HKEY_CURRENT_USER" and so on; empty for a number that names no hive.
QString hiveName(std::uint32_t hive);
// The folder that holds the hive files.
QString folder();
QString hiveFilePath(std::uint32_t hive);

// Opens an existing key. Asking for any write access on a hive whose file cannot be written
// answers AccessDenied; an empty path opens the hive itself.
long openKey(std::uint32_t hive, const QString& path, std::uint32_t access, HiveKey& key);
// Opens the key, creating every missing key along the path; `disposition` tells which.
long createKey(std::uint32_t hive, const QString& path, std::uint32_t access, HiveKey& key,
               std::uint32_t* disposition);
long closeKey(HiveKey& key);

// Reads a value (empty name: the key's default value). `data` may be null to ask for the
// size only. `size` holds the room in `data` on entry (negative: no limit) and the value's
// byte count on return; MoreData when the room is too small.
long queryValue(const HiveKey& key, const QString& name, std::uint32_t* type, QByteArray* data,
                qint64* size);
// Sets one value; a value over limits::maxValueBytes is refused (InvalidParameter) with a
// message.
long setValue(const HiveKey& key, const QString& name, std::uint32_t type, const QByteArray& data);
// Sets several values of one key in one save: one lock, one read, one atomic replace, one sync.
// All or none are stored.
long setValues(const HiveKey& key, const std::vector<HiveValue>& values);

// Why the hive cannot be saved at all (read-only file or folder, an immutable file, a folder
// in the way of the lock), as a sentence; empty when a save could work.
QString saveProblem(std::uint32_t hive);

} // namespace hivestore
} // namespace tavlin
