#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "platform/hivestore.h"
#include "platform/hivestore_text.h"
#include "registry/registrymanager.h"
#include "registry/settings.h"
#include "registry_testutil.h"
#include "support/testsupport.h"

using namespace tavlin;

namespace {

// The key's path exactly as the hive file spells it, or an empty list when it is absent.
QStringList storedPath(std::uint32_t hive, const QString& path) {
    const hivestore::HiveParse parse =
        hivestore::parseHive(test::readAll(test::hiveFile(hive)), hivestore::hiveName(hive));
    const QStringList parts = path.split(u'\\');
    QStringList spelled;
    for (qsizetype n = 1; n <= parts.size(); ++n) {
        const hivestore::HiveKeyEntry* entry = parse.tree.find(parts.first(n));
        if (!entry)
            return {};
        spelled.append(entry->name);
    }
    return spelled;
}

} // namespace

TEST(RegistryManager, StartsWithTheDocumentedProperties) {
    const RegistryManager rm;
    EXPECT_FALSE(rm.UseAutoAppSubKeys());
    EXPECT_TRUE(rm.UseCompanyName());
    EXPECT_TRUE(rm.UseApplication());
    EXPECT_EQ(rm.BaseKey(), hkey::CurrentUser);
    EXPECT_TRUE(rm.Subkey().isEmpty());
    EXPECT_TRUE(rm.CompanyName().isEmpty());
    EXPECT_TRUE(rm.Application().isEmpty());
}

TEST(RegistryManager, KeyPathFromTheProperties) {
    const struct {
        const char* what;
        bool autoKeys, useCompany, useApplication;
        const char *company, *application, *subkey;
        std::uint32_t baseKey;
        std::uint32_t hive;
        const char* path;
    } cases[] = {
        {"settings key", true, true, true, "Zan", "Tavlin", "", hkey::CurrentUser,
         hkey::CurrentUser, "Software\\Zan\\Tavlin"},
        {"with subkey", true, true, true, "Zan", "Tavlin", "Slides", hkey::CurrentUser,
         hkey::CurrentUser, "Software\\Zan\\Tavlin\\Slides"},
        {"company off", true, false, true, "Zan", "Tavlin", "", hkey::CurrentUser,
         hkey::CurrentUser, "Software\\Tavlin"},
        {"application off", true, true, false, "Zan", "Tavlin", "", hkey::CurrentUser,
         hkey::CurrentUser, "Software\\Zan"},
        {"empty names", true, true, true, "", "", "", hkey::CurrentUser, hkey::CurrentUser,
         "Software"},
        {"machine hive upper-cases", true, true, true, "Zan", "Tavlin", "", hkey::LocalMachine,
         hkey::LocalMachine, "SOFTWARE\\Zan\\Tavlin"},
        {"performance data falls back", true, true, true, "Zan", "Tavlin", "",
         hkey::PerformanceData, hkey::CurrentUser, "Software\\Zan\\Tavlin"},
        {"unknown hive falls back", false, true, true, "", "", "a", 0x12345u, hkey::CurrentUser,
         "a"},
        {"auto keys off: subkey alone", false, true, true, "Zan", "Tavlin", "a\\b",
         hkey::ClassesRoot, hkey::ClassesRoot, "a\\b"},
        {"users hive", false, true, true, "", "", "x", hkey::Users, hkey::Users, "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempConfigHome home;
        RegistryManager rm;
        rm.setUseAutoAppSubKeys(c.autoKeys);
        rm.setUseCompanyName(c.useCompany);
        rm.setUseApplication(c.useApplication);
        rm.setCompanyName(QString::fromUtf8(c.company));
        rm.setApplication(QString::fromUtf8(c.application));
        rm.setSubkey(QString::fromUtf8(c.subkey));
        rm.setBaseKey(c.baseKey);
        EXPECT_EQ(rm.BaseKey(), c.baseKey);
        EXPECT_FALSE(rm.DoesKeyExist());
        EXPECT_TRUE(rm.CreateSubKey());
        EXPECT_TRUE(rm.DoesKeyExist());
        EXPECT_EQ(storedPath(c.hive, QString::fromUtf8(c.path)).join(u'\\'),
                  QString::fromUtf8(c.path));
    }
}

TEST(RegistryManager, EmptyPathAddressesTheHiveItself) {
    test::TempConfigHome home;
    RegistryManager rm;
    EXPECT_TRUE(rm.DoesKeyExist());
    EXPECT_FALSE(rm.CreateSubKey());
    EXPECT_TRUE(rm.WriteValue(QStringLiteral("At the root"), QStringLiteral("yes"), regtype::Sz));
    QString text;
    EXPECT_TRUE(rm.ReadValue(QStringLiteral("AT THE ROOT"), text));
    EXPECT_EQ(text, QStringLiteral("yes"));
}

TEST(RegistryManager, ValuesComeBackExactlyAsStored) {
    test::TempConfigHome home;
    RegistryManager rm = SettingsKey();
    ASSERT_TRUE(rm.CreateSubKey());
    QByteArray big(10000, 'x');
    big[0] = '\x80';
    big[9999] = '\x80';
    const QByteArray cases[] = {
        QByteArray(""),
        QByteArray("abc"),
        QByteArray("a\x80z"),
        QByteArray("\x80"),
        QStringLiteral("/home/pictures/À trier").toUtf8(),
        QByteArray(254, 'a'),
        QByteArray(255, 'b'),
        QByteArray(256, 'c'),
        QByteArray("ends in NUL\0", 12),
        big,
    };
    for (const QByteArray& value : cases) {
        SCOPED_TRACE(value.left(20).toStdString());
        ASSERT_TRUE(rm.WriteValueBytes(QStringLiteral("Value"), value, regtype::Sz));
        QByteArray back("stale");
        EXPECT_TRUE(rm.ReadValueBytes(QStringLiteral("value"), back));
        EXPECT_EQ(back, value);
    }

    const QString folder = QStringLiteral("/srv/bilder/À trier/ünïcödé €");
    ASSERT_TRUE(rm.WriteValue(QString(), folder, regtype::Sz));
    QString text;
    EXPECT_TRUE(rm.ReadValue(QString(), text));
    EXPECT_EQ(text, folder);

    // Another writer that stored no terminating NUL loses no character.
    tavlin::HiveKey key;
    ASSERT_EQ(hivestore::openKey(hkey::CurrentUser, QStringLiteral("Software\\Zan\\Tavlin"),
                                 regaccess::KeyWrite, key),
              regstatus::Success);
    ASSERT_EQ(hivestore::setValue(key, QStringLiteral("Foreign"), regtype::Sz, "abc"),
              regstatus::Success);
    EXPECT_TRUE(rm.ReadValue(QStringLiteral("Foreign"), text));
    EXPECT_EQ(text, QStringLiteral("abc"));
}

TEST(RegistryManager, MissingKeyMissingValueAndEmptyValue) {
    test::TempConfigHome home;
    RegistryManager rm = SettingsKey();
    QString text = QStringLiteral("stale");
    EXPECT_FALSE(rm.ReadValue(QStringLiteral("Show Controls"), text));
    EXPECT_TRUE(text.isEmpty());

    // Writing before the key exists fails and does not create it.
    EXPECT_FALSE(rm.WriteValue(QStringLiteral("Show Controls"), QStringLiteral("true"), 1));
    EXPECT_FALSE(rm.DoesKeyExist());

    EXPECT_TRUE(rm.CreateSubKey());
    EXPECT_FALSE(rm.CreateSubKey()) << "an existing key is not created again";
    EXPECT_TRUE(rm.DoesKeyExist());

    text = QStringLiteral("stale");
    EXPECT_FALSE(rm.ReadValue(QStringLiteral("Show Controls"), text));
    EXPECT_TRUE(text.isEmpty());

    ASSERT_TRUE(rm.WriteValue(QStringLiteral("Empty"), QString(), regtype::Sz));
    text = QStringLiteral("stale");
    EXPECT_TRUE(rm.ReadValue(QStringLiteral("Empty"), text));
    EXPECT_TRUE(text.isEmpty());
}

TEST(RegistryManager, ReadOnlyHiveReadsButRefusesWrites) {
    test::TempConfigHome home;
    RegistryManager rm = SettingsKey();
    ASSERT_TRUE(rm.CreateSubKey());
    ASSERT_TRUE(rm.WriteValue(QStringLiteral("Last Directory"), QStringLiteral("/srv"), 1));
    test::ReadOnlyFile readOnly(test::hiveFile());
    if (!readOnly.ok())
        GTEST_SKIP() << "cannot make a file read-only for this user here (chattr +i refused)";

    QString text;
    EXPECT_TRUE(rm.ReadValue(QStringLiteral("Last Directory"), text));
    EXPECT_EQ(text, QStringLiteral("/srv"));
    EXPECT_FALSE(rm.WriteValue(QStringLiteral("Last Directory"), QStringLiteral("/"), 1));
    // Full access is refused, so the key reads as absent to DoesKeyExist but not to CanReadKey.
    EXPECT_FALSE(rm.DoesKeyExist());
    EXPECT_TRUE(rm.CanReadKey());
    rm.setSubkey(QStringLiteral("New"));
    EXPECT_FALSE(rm.CreateSubKey());
    EXPECT_FALSE(rm.ReadValue(QStringLiteral("Last Directory"), text)) << "no such key";
}

class Associations : public testing::Test {
protected:
    QString defaultOf(const QString& path) {
        RegistryManager rm;
        rm.setBaseKey(hkey::ClassesRoot);
        rm.setSubkey(path);
        QString text;
        return rm.ReadValue(QString(), text) ? text : QStringLiteral("<absent>");
    }
    QString backupOf(const QString& path) {
        RegistryManager rm;
        rm.setBaseKey(hkey::ClassesRoot);
        rm.setSubkey(path);
        QString text;
        return rm.ReadValue(QStringLiteral("backup"), text) ? text : QStringLiteral("<absent>");
    }

    test::TempConfigHome home;
    RegistryManager rm = SettingsKey();
};

TEST_F(Associations, AssociateKeepsOneBackupOfThePreviousType) {
    const QString program = QStringLiteral("Tavlin.Picture");
    EXPECT_TRUE(rm.AssociateWithExtension(program, QStringLiteral("JPG"), true));
    EXPECT_EQ(defaultOf(QStringLiteral(".jpg")), program);
    EXPECT_EQ(storedPath(hkey::ClassesRoot, QStringLiteral(".jpg")),
              QStringList{QStringLiteral(".jpg")});
    // The extension had no key, so the backup is the empty text it held.
    EXPECT_EQ(backupOf(QStringLiteral(".jpg")), QString());

    EXPECT_TRUE(
        rm.AssociateWithExtension(QStringLiteral("Other.Viewer"), QStringLiteral("jpg"), true));
    EXPECT_EQ(backupOf(QStringLiteral(".jpg")), program);
    // The same type again, in other letters: the backup stays as it was.
    EXPECT_TRUE(
        rm.AssociateWithExtension(QStringLiteral("OTHER.viewer"), QStringLiteral("jpg"), true));
    EXPECT_EQ(backupOf(QStringLiteral(".jpg")), program);
    EXPECT_TRUE(rm.AssociateWithExtension(QStringLiteral("Third"), QStringLiteral("jpg"), false));
    EXPECT_EQ(backupOf(QStringLiteral(".jpg")), program);

    EXPECT_TRUE(rm.IsAssociatedWithExtension(QStringLiteral("THIRD"), QStringLiteral("JPG")));
    EXPECT_FALSE(
        rm.IsAssociatedWithExtension(QStringLiteral("Other.Viewer"), QStringLiteral("jpg")));
    EXPECT_EQ(rm.GetCurrentAssociation(QStringLiteral("Jpg")), QStringLiteral("Third"));
    EXPECT_EQ(rm.GetCurrentAssociation(QStringLiteral("gif")), QString());
    EXPECT_FALSE(rm.IsAssociatedWithExtension(QString(), QStringLiteral("gif")));

    // An extension given with its dot addresses a key with two dots.
    EXPECT_TRUE(rm.AssociateWithExtension(program, QStringLiteral(".bmp"), false));
    EXPECT_EQ(defaultOf(QStringLiteral("..bmp")), program);
    EXPECT_EQ(defaultOf(QStringLiteral(".bmp")), QStringLiteral("<absent>"));
    EXPECT_TRUE(rm.IsAssociatedWithExtension(program, QStringLiteral(".bmp")));
}

TEST_F(Associations, SetupProgramTypeWritesTheVerbLayout) {
    EXPECT_FALSE(rm.SetupProgramType(QString(), QStringLiteral("d"), QStringLiteral("i"),
                                     QStringLiteral("o"), QStringLiteral("p")));
    EXPECT_TRUE(rm.SetupProgramType(QStringLiteral("Tavlin.Picture"), QStringLiteral("Picture"),
                                    QStringLiteral("/usr/share/icons/tavlin.png"),
                                    QStringLiteral("tavlin \"%1\""), QStringLiteral("tavlin /s")));
    RegistryManager extra;
    extra.setBaseKey(hkey::ClassesRoot);
    extra.setSubkey(QStringLiteral("Tavlin.Picture\\shell\\print"));
    ASSERT_TRUE(extra.CreateSubKey());

    EXPECT_TRUE(rm.SetupProgramType(QStringLiteral("Tavlin.Picture"), QStringLiteral("Pictures"),
                                    QStringLiteral("icon2"), QStringLiteral("open2"),
                                    QStringLiteral("play2")));
    const std::pair<const char*, const char*> expected[] = {
        {"Tavlin.Picture", "Pictures"},
        {"Tavlin.Picture\\DefaultIcon", "icon2"},
        {"Tavlin.Picture\\shell", "Play"},
        {"Tavlin.Picture\\shell\\open", ""},
        {"Tavlin.Picture\\shell\\open\\Command", "open2"},
        {"Tavlin.Picture\\shell\\play", ""},
        {"Tavlin.Picture\\shell\\play\\Command", "play2"},
    };
    for (const auto& [path, text] : expected)
        EXPECT_EQ(defaultOf(QString::fromUtf8(path)), QString::fromUtf8(text)) << path;
    EXPECT_TRUE(extra.DoesKeyExist()) << "other subkeys are left alone";
}

TEST_F(Associations, CallersAddressingIsKept) {
    rm.setSubkey(QStringLiteral("Sub"));
    rm.AssociateWithExtension(QStringLiteral("P"), QStringLiteral("gif"), true);
    rm.IsAssociatedWithExtension(QStringLiteral("P"), QStringLiteral("gif"));
    rm.GetCurrentAssociation(QStringLiteral("gif"));
    rm.SetupProgramType(QStringLiteral("P"), QString(), QString(), QString(), QString());
    QString ext = QStringLiteral(".gif");
    EXPECT_FALSE(rm.ForExtension(1, ext));
    EXPECT_FALSE(rm.ForExtension(0));
    EXPECT_EQ(ext, QStringLiteral(".gif"));

    EXPECT_TRUE(rm.UseAutoAppSubKeys());
    EXPECT_TRUE(rm.UseCompanyName());
    EXPECT_TRUE(rm.UseApplication());
    EXPECT_EQ(rm.BaseKey(), hkey::CurrentUser);
    EXPECT_EQ(rm.Subkey(), QStringLiteral("Sub"));
    EXPECT_EQ(rm.CompanyName(), QStringLiteral("Zan"));
    EXPECT_EQ(rm.Application(), QStringLiteral("Tavlin"));
    EXPECT_TRUE(rm.CreateSubKey());
    EXPECT_FALSE(
        storedPath(hkey::CurrentUser, QStringLiteral("Software\\Zan\\Tavlin\\Sub")).isEmpty());
}

TEST_F(Associations, ReadOnlyClassesRootFailsTheFinalWrite) {
    ASSERT_TRUE(rm.AssociateWithExtension(QStringLiteral("P"), QStringLiteral("gif"), false));
    test::ReadOnlyFile readOnly(test::hiveFile(hkey::ClassesRoot));
    if (!readOnly.ok())
        GTEST_SKIP() << "cannot make a file read-only for this user here (chattr +i refused)";
    EXPECT_FALSE(rm.AssociateWithExtension(QStringLiteral("Q"), QStringLiteral("gif"), true));
    // The key cannot be opened with full access, so it reads as not associated.
    EXPECT_FALSE(rm.IsAssociatedWithExtension(QStringLiteral("P"), QStringLiteral("gif")));
    EXPECT_EQ(defaultOf(QStringLiteral(".gif")), QStringLiteral("P"));
}

// A file name whose bytes are not UTF-8 reaches the program with lone surrogates in it; as
// "Last Directory" it must come back unchanged, or the folder is lost at the next start.
TEST(RegistryManager, TextWithLoneSurrogatesAndNulsRoundTrips) {
    test::TempConfigHome home;
    const QString cases[] = {
        QStringLiteral("/home/me/caf") + QChar(0xDCE9) + QStringLiteral("/pics"),
        QString(QChar(0xDC80)) + QChar(0xDCFF),
        QString(QChar(0xD800)) + QStringLiteral("high alone"),
        QStringLiteral("low first ") + QChar(0xDC00) + QChar(0xD800),
        QString::fromUtf16(u"pair \U0001F600 kept, lone \xDCC3 too"),
        QString::fromUtf16(u"nul\0inside\0", 11),
    };
    for (const QString& text : cases) {
        SCOPED_TRACE(text.toUtf8().toStdString());
        RegistryManager rm = SettingsKey();
        ASSERT_TRUE(rm.CreateSubKey() || rm.DoesKeyExist());
        ASSERT_TRUE(rm.WriteValue(QStringLiteral("Text"), text, regtype::Sz));
        QString back;
        EXPECT_TRUE(rm.ReadValue(QStringLiteral("Text"), back));
        EXPECT_EQ(back, text);
        // What UTF-8 text cannot hold is written in the file's hex form.
        const QString file = QString::fromUtf8(test::readAll(test::hiveFile()));
        EXPECT_TRUE(file.contains(QLatin1String("\"Text\"=hex(1):"))) << file.toStdString();
    }

    // Through the exit save and the next start.
    QTemporaryDir pictures;
    const QString folder = pictures.path();
    Settings s;
    s.lastDirectory = folder + u'/' + QChar(0xDCE9) + QStringLiteral("t") + QChar(0xDC80);
    ASSERT_TRUE(SaveRegistrySettings(s));
    RegistryManager rm = SettingsKey();
    QString stored;
    EXPECT_TRUE(rm.ReadValue(QStringLiteral("Last Directory"), stored));
    EXPECT_EQ(stored, s.lastDirectory);
}
