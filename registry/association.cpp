#include <utility>

#include "registry/registrymanager.h"

namespace tavlin {

// Every association method works on HKEY_CLASSES_ROOT with the path being Subkey alone, and
// puts the caller's addressing back before it returns.
void RegistryManager::PointAtClassesRoot() {
    SaveKeyState();
    m_UseAutoAppSubKeys = false;
    m_UseCompanyName = false;
    m_UseApplication = false;
    m_BaseKey = hkey::ClassesRoot;
}

bool RegistryManager::ForExtension(std::int32_t) {
    return false;
}

bool RegistryManager::ForExtension(std::int32_t, QString&) {
    return false;
}

bool RegistryManager::IsAssociatedWithExtension(QString svProgram, QString svExtension) {
    PointAtClassesRoot();
    m_Subkey = u'.' + svExtension;
    bool result = false;
    if (DoesKeyExist()) {
        QString current;
        ReadValue(QString(), current);
        result = current.toUpper() == svProgram.toUpper();
    }
    RestoreKeyState();
    return result;
}

QString RegistryManager::GetCurrentAssociation(QString svExtension) {
    PointAtClassesRoot();
    m_Subkey = u'.' + svExtension;
    QString current;
    if (DoesKeyExist())
        ReadValue(QString(), current);
    RestoreKeyState();
    return current;
}

bool RegistryManager::AssociateWithExtension(QString svProgram, QString svExtension, bool bBackup) {
    PointAtClassesRoot();
    m_Subkey = u'.' + svExtension.toLower();
    if (!DoesKeyExist())
        CreateSubKey();
    if (bBackup) {
        QString previous;
        ReadValue(QString(), previous);
        if (previous.toLower() != svProgram.toLower())
            WriteValue(QStringLiteral("backup"), previous, regtype::Sz);
    }
    const bool result = WriteValue(QString(), svProgram, regtype::Sz);
    RestoreKeyState();
    return result;
}

bool RegistryManager::SetupProgramType(QString svProgram, QString svDescription, QString svIcon,
                                       QString svShellOpen, QString svShellPlay) {
    PointAtClassesRoot();
    m_Subkey = svProgram;
    if (svProgram.isEmpty()) {
        RestoreKeyState();
        return false;
    }
    const std::pair<QString, QString> rows[] = {
        {svProgram, svDescription},
        {svProgram + QStringLiteral("\\DefaultIcon"), svIcon},
        {svProgram + QStringLiteral("\\shell"), QStringLiteral("Play")},
        {svProgram + QStringLiteral("\\shell\\open"), QString()},
        {svProgram + QStringLiteral("\\shell\\open\\Command"), svShellOpen},
        {svProgram + QStringLiteral("\\shell\\play"), QString()},
        {svProgram + QStringLiteral("\\shell\\play\\Command"), svShellPlay},
    };
    for (const auto& [subkey, text] : rows) {
        m_Subkey = subkey;
        // An existing key is simply reused, so CreateSubKey's false is no failure here.
        CreateSubKey();
        WriteValue(QString(), text, regtype::Sz);
    }
    RestoreKeyState();
    return true;
}

} // namespace tavlin
