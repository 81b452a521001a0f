#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QString>

#include "platform/hivestore.h"

namespace tavlin {

// The one way the program touches the registry. An instance addresses one key, assembled
// from its properties when a primitive runs; it holds no open key between calls, so each
// routine creates its own, sets it up and drops it. No member throws or shows anything:
// failures come back as false.
class RegistryManager {
public:
    std::uint32_t BaseKey() const { return m_BaseKey; }
    void setBaseKey(std::uint32_t ClientKey) { m_BaseKey = ClientKey; }
    QString Subkey() const { return m_Subkey; }
    void setSubkey(const QString& svSubKey) { m_Subkey = svSubKey; }
    QString CompanyName() const { return m_CompanyName; }
    void setCompanyName(const QString& svCompanyName) { m_CompanyName = svCompanyName; }
    QString Application() const { return m_Application; }
    void setApplication(const QString& svApplicationName) { m_Application = svApplicationName; }
    bool UseCompanyName() const { return m_UseCompanyName; }
    void setUseCompanyName(bool bValue) { m_UseCompanyName = bValue; }
    bool UseApplication() const { return m_UseApplication; }
    void setUseApplication(bool bValue) { m_UseApplication = bValue; }
    bool UseAutoAppSubKeys() const { return m_UseAutoAppSubKeys; }
    void setUseAutoAppSubKeys(bool bValue) { m_UseAutoAppSubKeys = bValue; }

    // True when the key exists and opens with full access.
    bool DoesKeyExist();
    // True when the key exists and opens for reading, writable or not.
    bool CanReadKey();
    // Reads a value (empty name: the default value) exactly as stored, of any length; the
    // stored terminating NUL is dropped, and only that. False when the key or value is absent,
    // with svValue empty. Text comes back exactly as written, lone surrogates and NULs included
    // (see StoredText).
    bool ReadValue(const QString& svValueName, QString& svValue);
    bool ReadValueBytes(const QString& svValueName, QByteArray& svValue);
    // Writes a value with a terminating NUL, as text values are stored. False, and nothing
    // written, when the key does not exist: CreateSubKey comes first.
    bool WriteValue(const QString& svValueName, const QString& svValue, std::uint32_t ClientType);
    bool WriteValueBytes(const QString& svValueName, const QByteArray& svValue,
                         std::uint32_t ClientType);
    // Writes several values in one save of the settings file (one lock, one write, one sync):
    // all are stored or none. False when the key does not exist.
    bool WriteValues(const std::vector<std::pair<QString, QString>>& values,
                     std::uint32_t ClientType);
    // Creates the key and every missing key on its path. True only when the key is new.
    bool CreateSubKey();

    // File-type association over HKEY_CLASSES_ROOT. Each keeps the caller's addressing.
    bool ForExtension(std::int32_t ClientAction);
    bool ForExtension(std::int32_t ClientAction, QString& svExtension);
    bool IsAssociatedWithExtension(QString svProgram, QString svExtension);
    QString GetCurrentAssociation(QString svExtension);
    bool AssociateWithExtension(QString svProgram, QString svExtension, bool bBackup);
    bool SetupProgramType(QString svProgram, QString svDescription, QString svIcon,
                          QString svShellOpen, QString svShellPlay);

private:
    QString GetKeyPath() const;
    std::uint32_t GetBaseKey() const;
    bool OpenKey(HiveKey& hKey, std::uint32_t ClientAccess);
    bool CloseKey(HiveKey& hKey);
    void SaveKeyState();
    void RestoreKeyState();
    void PointAtClassesRoot();

    bool m_UseAutoAppSubKeys = false;
    bool m_UseCompanyName = true;
    bool m_UseApplication = true;
    std::uint32_t m_BaseKey = hkey::CurrentUser;
    QString m_Subkey;
    QString m_CompanyName;
    QString m_Application;

    struct SavedState {
        bool UseAutoAppSubKeys = false;
        bool UseCompanyName = false;
        bool UseApplication = false;
        QString Subkey;
        std::uint32_t BaseKey = 0;
    };
    SavedState m_Saved;
};

// A text value's stored bytes: UTF-8, with a lone surrogate (the form a file name's
// undecodable bytes take in a QString) written as its own three-byte sequence, so every
// QString is stored exactly; such a value is not valid UTF-8 and goes into the file in its
// hex form. StoredTextToString reads valid UTF-8 as usual, those sequences back as the lone
// surrogates, and other invalid bytes as U+FFFD.
QByteArray StringToStoredText(const QString& text);
QString StoredTextToString(const QByteArray& bytes);

} // namespace tavlin
