#include "registry/registrymanager.h"

namespace tavlin {

namespace {

// Text values are stored with their terminating NUL, as the registry's text API does.
QByteArray withTerminator(QByteArray bytes) {
    bytes.append('\0');
    return bytes;
}

bool isLoneSurrogateSequence(const QByteArray& bytes, qsizetype i) {
    return i + 2 < bytes.size() && uchar(bytes[i]) == 0xED &&
           (uchar(bytes[i + 1]) & 0xE0) == 0xA0 && (uchar(bytes[i + 2]) & 0xC0) == 0x80;
}

} // namespace

QByteArray StringToStoredText(const QString& text) {
    QByteArray out;
    out.reserve(text.size());
    qsizetype plainFrom = 0;
    auto flushPlain = [&](qsizetype to) {
        out += QStringView(text).sliced(plainFrom, to - plainFrom).toUtf8();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (!QChar::isSurrogate(u))
            continue;
        flushPlain(i);
        out += char(0xE0 | (u >> 12));
        out += char(0x80 | ((u >> 6) & 0x3F));
        out += char(0x80 | (u & 0x3F));
        plainFrom = i + 1;
    }
    flushPlain(text.size());
    return out;
}

QString StoredTextToString(const QByteArray& bytes) {
    QString out;
    qsizetype plainFrom = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (!isLoneSurrogateSequence(bytes, i))
            continue;
        out += QString::fromUtf8(QByteArrayView(bytes).sliced(plainFrom, i - plainFrom));
        out += QChar(char16_t(((uchar(bytes[i]) & 0x0F) << 12) |
                              ((uchar(bytes[i + 1]) & 0x3F) << 6) | (uchar(bytes[i + 2]) & 0x3F)));
        i += 2;
        plainFrom = i + 1;
    }
    out += QString::fromUtf8(QByteArrayView(bytes).sliced(plainFrom));
    return out;
}

QString RegistryManager::GetKeyPath() const {
    if (!m_UseAutoAppSubKeys)
        return m_Subkey;
    // The test looks at the stored handle, not at the hive GetBaseKey falls back to.
    QString path =
        m_BaseKey == hkey::LocalMachine ? QStringLiteral("SOFTWARE") : QStringLiteral("Software");
    if (!m_CompanyName.isEmpty() && m_UseCompanyName)
        path += u'\\' + m_CompanyName;
    if (!m_Application.isEmpty() && m_UseApplication)
        path += u'\\' + m_Application;
    if (!m_Subkey.isEmpty())
        path += u'\\' + m_Subkey;
    return path;
}

std::uint32_t RegistryManager::GetBaseKey() const {
    switch (m_BaseKey) {
    case hkey::ClassesRoot:
    case hkey::CurrentUser:
    case hkey::LocalMachine:
    case hkey::Users:
    case hkey::CurrentConfig:
    case hkey::DynData:
        return m_BaseKey;
    default:
        return hkey::CurrentUser;
    }
}

bool RegistryManager::OpenKey(HiveKey& hKey, std::uint32_t ClientAccess) {
    return hivestore::openKey(GetBaseKey(), GetKeyPath(), ClientAccess, hKey) == regstatus::Success;
}

bool RegistryManager::CloseKey(HiveKey& hKey) {
    return hivestore::closeKey(hKey) == regstatus::Success;
}

bool RegistryManager::DoesKeyExist() {
    HiveKey hKey;
    if (!OpenKey(hKey, regaccess::KeyAllAccess))
        return false;
    return CloseKey(hKey);
}

bool RegistryManager::CanReadKey() {
    HiveKey hKey;
    if (!OpenKey(hKey, regaccess::KeyRead))
        return false;
    return CloseKey(hKey);
}

bool RegistryManager::ReadValueBytes(const QString& svValueName, QByteArray& svValue) {
    svValue.clear();
    HiveKey hKey;
    if (!OpenKey(hKey, regaccess::KeyRead))
        return false;
    QByteArray data;
    qint64 size = -1;
    const long status = hivestore::queryValue(hKey, svValueName, nullptr, &data, &size);
    CloseKey(hKey);
    if (status != regstatus::Success)
        return false;
    // Only the terminator goes; a value stored without one comes back whole.
    if (data.endsWith('\0'))
        data.chop(1);
    svValue = data;
    return true;
}

bool RegistryManager::ReadValue(const QString& svValueName, QString& svValue) {
    QByteArray bytes;
    const bool ok = ReadValueBytes(svValueName, bytes);
    svValue = StoredTextToString(bytes);
    return ok;
}

bool RegistryManager::WriteValueBytes(const QString& svValueName, const QByteArray& svValue,
                                      std::uint32_t ClientType) {
    HiveKey hKey;
    if (!OpenKey(hKey, regaccess::KeyWrite))
        return false;
    const long status = hivestore::setValue(hKey, svValueName, ClientType, withTerminator(svValue));
    CloseKey(hKey);
    return status == regstatus::Success;
}

bool RegistryManager::WriteValue(const QString& svValueName, const QString& svValue,
                                 std::uint32_t ClientType) {
    return WriteValueBytes(svValueName, StringToStoredText(svValue), ClientType);
}

bool RegistryManager::WriteValues(const std::vector<std::pair<QString, QString>>& values,
                                  std::uint32_t ClientType) {
    HiveKey hKey;
    if (!OpenKey(hKey, regaccess::KeyWrite))
        return false;
    std::vector<hivestore::HiveValue> batch;
    batch.reserve(values.size());
    for (const auto& [name, text] : values)
        batch.push_back({name, ClientType, withTerminator(StringToStoredText(text))});
    const long status = hivestore::setValues(hKey, batch);
    CloseKey(hKey);
    return status == regstatus::Success;
}

bool RegistryManager::CreateSubKey() {
    HiveKey hKey;
    std::uint32_t disposition = 0;
    const long status =
        hivestore::createKey(GetBaseKey(), GetKeyPath(), regaccess::KeyWrite, hKey, &disposition);
    if (status != regstatus::Success)
        return false;
    CloseKey(hKey);
    return disposition == regdisposition::CreatedNewKey;
}

void RegistryManager::SaveKeyState() {
    m_Saved =
        SavedState{m_UseAutoAppSubKeys, m_UseCompanyName, m_UseApplication, m_Subkey, m_BaseKey};
}

void RegistryManager::RestoreKeyState() {
    m_UseAutoAppSubKeys = m_Saved.UseAutoAppSubKeys;
    m_UseCompanyName = m_Saved.UseCompanyName;
    m_UseApplication = m_Saved.UseApplication;
    m_Subkey = m_Saved.Subkey;
    m_BaseKey = m_Saved.BaseKey;
}

} // namespace tavlin
