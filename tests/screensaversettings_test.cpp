#include <functional>
#include <gtest/gtest.h>
#include <map>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QTest>
#include <QTimer>

#include "app/commandline.h"
#include "app/frmsplash.h"
#include "dialogs/frmscreensaversettings.h"
#include "platform/hivestore.h"
#include "platform/hivestore_text.h"
#include "registry/registrymanager.h"
#include "registry/settings.h"
#include "registry_testutil.h"
#include "support/testsupport.h"
#include "support/windowdriver.h"
#include "viewer/drivelist.h"
#include "viewer/folderlist.h"
#include "viewer/tavlin.h"

using namespace tavlin;
using test::Part;

namespace {

using Values = std::map<QString, QString>;

const QString kKey = QStringLiteral("Software\\Zan\\Tavlin");

// Every value under the settings key, as text without its terminator.
Values storedValues() {
    const hivestore::HiveParse parse =
        hivestore::parseHive(test::readAll(test::hiveFile()), QStringLiteral("HKEY_CURRENT_USER"));
    Values values;
    if (const hivestore::HiveKeyEntry* entry = parse.tree.find(kKey.split(u'\\'))) {
        for (const auto& [folded, value] : entry->values) {
            QByteArray data = value.data;
            if (data.endsWith('\0'))
                data.chop(1);
            values[value.name] = QString::fromUtf8(data);
        }
    }
    return values;
}

// Runs `drive` on the modal window as soon as one is open, while the caller sits in exec().
// Gives up, closing whatever is modal, after a bounded number of event-loop turns.
void whenModal(std::function<void(QWidget*)> drive, int turnsLeft = 2000) {
    QTimer::singleShot(0, [drive = std::move(drive), turnsLeft]() mutable {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            drive(modal);
            return;
        }
        if (turnsLeft > 0)
            whenModal(std::move(drive), turnsLeft - 1);
    });
}

// A main window over a folder with two subfolders, and a settings store of its own that holds
// a full set of values, none of them equal to what the dialog will write.
class ScreensaverSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QDir(dir.path()).mkpath(QStringLiteral("holiday"));
        QDir(dir.path()).mkpath(QStringLiteral("garden"));
        test::storeSettings(seeded());
    }

    Values seeded() const {
        return {
            {QStringLiteral("Show Controls"), QStringLiteral("false")},
            {QStringLiteral("Center Picture"), QStringLiteral("TRUE")},
            {QStringLiteral("Stretch Picture"), QStringLiteral("false")},
            {QStringLiteral("Loop Slideshow"), QStringLiteral("True")},
            {QStringLiteral("Play Slideshow Sound"), QStringLiteral("yes")},
            {QStringLiteral("Last Directory"), QStringLiteral("/stored/before")},
            {QStringLiteral("Working Directory"), QStringLiteral("/opt/tavlin")},
            {QStringLiteral("Show Dimensions"), QStringLiteral("stored")},
            {QStringLiteral("Show File Size"), QStringLiteral("stored")},
            {QStringLiteral("Loop Seconds"), QStringLiteral("05")},
            {QStringLiteral("Show Filename"), QStringLiteral("stored")},
            {QStringLiteral("Show Picture Number"), QStringLiteral("stored")},
            {QStringLiteral("Someone Else's Value"), QStringLiteral("kept")},
        };
    }

    std::unique_ptr<Tavlin> start(const QStringList& args, bool splash = false) {
        TavlinOptions options = test::windowOptions(platform, exits);
        options.showSplash = splash;
        auto window = std::make_unique<Tavlin>(options);
        shown = test::drive(*window).start(parseCommandLine(args));
        return window;
    }

    // The main window in the state the settings loader leaves it in.
    std::unique_ptr<Tavlin> viewerAt(const QString& folder, const QString& seconds) {
        auto w = start({dir.path()});
        auto viewer = test::drive(*w);
        viewer.setDrive(folder);
        viewer.openFolder(folder);
        viewer.setSecondsText(seconds);
        return w;
    }

    QString path(const QString& name) const { return QDir(dir.path()).filePath(name); }

    test::TempConfigHome config;
    QTemporaryDir dir;
    test::CountingPlatform platform;
    int exits = 0;
    bool shown = false;
};

// The stored values once OK has written `six` over the seeded ones.
Values withSix(Values values, const Values& six) {
    for (const auto& [name, text] : six)
        values[name] = text;
    return values;
}

} // namespace

TEST_F(ScreensaverSettingsTest, HasTheDesignedWidgetsTextsColoursAndGeometry) {
    auto w = viewerAt(dir.path(), QStringLiteral("5"));
    frmScreensaverSettings d(w->currentSettings());
    EXPECT_EQ(d.windowTitle(), "Tavlin 2.0 Screensaver Settings");
    EXPECT_FALSE(d.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(d.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(d.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(d.size(), QSize(5175 / 15, 5580 / 15));
    EXPECT_EQ(d.minimumSize(), d.maximumSize());
    EXPECT_EQ(d.palette().color(QPalette::Window), QColor(Qt::black));

    struct Placed {
        QWidget* widget;
        QRect twips;
    };
    const Placed placed[] = {
        {d.Image1, {120, 0, 4935, 1575}},
        {d.mySS_Drive, {120, 1560, 2655, 315}},
        {d.mySS_Path, {120, 1920, 2655, 2790}},
        {d.Frame1, {2880, 1440, 2175, 3135}},
        {d.Label1, {555, 240, 1065, 195}},
        {d.spnSS_Seconds, {600, 480, 975, 285}},
        {d.chkSS_ShowPictureNumber, {240, 840, 1815, 375}},
        {d.chkSS_Filename, {240, 1200, 1815, 375}},
        {d.chkSS_FileSize, {240, 1560, 1815, 375}},
        {d.chkSS_Dimensions, {240, 1920, 1815, 375}},
        {d.chkSS_Shuffle, {240, 2280, 1815, 375}},
        {d.chkSS_Subfolders, {240, 2640, 1815, 375}},
        {d.btnSS_Ok, {3000, 4680, 1935, 375}},
        {d.btnSS_Cancel, {3120, 5160, 1695, 255}},
    };
    for (const auto& [widget, twips] : placed) {
        QRect g = widget->geometry();
        // Texts may be wider than designed when the font needs it, never narrower.
        if (qobject_cast<QLabel*>(widget) == d.Label1 || qobject_cast<QCheckBox*>(widget)) {
            EXPECT_GE(g.width() * 15, twips.width());
            g.setWidth(twips.width() / 15);
        }
        EXPECT_EQ(QRect(g.x() * 15, g.y() * 15, g.width() * 15, g.height() * 15), twips)
            << widget->metaObject()->className() << " " << widget->objectName().toStdString();
    }
    for (QWidget* inFrame :
         {(QWidget*)d.Label1, (QWidget*)d.spnSS_Seconds, (QWidget*)d.chkSS_Dimensions})
        EXPECT_EQ(inFrame->parentWidget(), d.Frame1);
    // The seconds are in one place: the spin box's own text field is the only one in the frame,
    // it leaves the arrows their room and is wide enough for the largest number once laid out.
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    const QList<QLineEdit*> fields = d.Frame1->findChildren<QLineEdit*>();
    ASSERT_EQ(fields.size(), 1);
    EXPECT_EQ(fields[0]->parentWidget(), d.spnSS_Seconds);
    EXPECT_NE(d.spnSS_Seconds->buttonSymbols(), QAbstractSpinBox::NoButtons);
    EXPECT_LT(fields[0]->geometry().right(), d.spnSS_Seconds->width() - 1);
    EXPECT_GE(fields[0]->width(), fields[0]->fontMetrics().horizontalAdvance(QStringLiteral("30")));
    EXPECT_EQ(d.spnSS_Seconds->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);

    const std::pair<QAbstractButton*, const char*> captions[] = {
        {d.chkSS_ShowPictureNumber, "Show Pict Number"},
        {d.chkSS_Filename, "Show Filename"},
        {d.chkSS_FileSize, "Show File Size"},
        {d.chkSS_Dimensions, "Show Dimensions"},
        {d.chkSS_Shuffle, "Shuffle"},
        {d.chkSS_Subfolders, "Include Subfolders"},
        {d.btnSS_Ok, "&Ok"},
        {d.btnSS_Cancel, "Cancel"},
    };
    for (auto [button, caption] : captions)
        EXPECT_EQ(button->text(), caption);
    EXPECT_EQ(d.Label1->text(), "Slide Seconds:");
    EXPECT_EQ(d.spnSS_Seconds->text(), "5");
    EXPECT_TRUE(d.Frame1->title().isEmpty());
    for (QWidget* green :
         {(QWidget*)d.Label1, (QWidget*)d.chkSS_ShowPictureNumber, (QWidget*)d.chkSS_Dimensions}) {
        EXPECT_EQ(green->palette().color(QPalette::WindowText), QColor(0, 255, 0));
        EXPECT_EQ(green->palette().color(QPalette::Window), QColor(Qt::black));
    }
    for (QWidget* white :
         {(QWidget*)d.mySS_Drive, (QWidget*)d.mySS_Path, (QWidget*)d.spnSS_Seconds})
        EXPECT_EQ(white->palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_FALSE(d.Image1->pixmap().isNull());
    EXPECT_TRUE(d.Image1->hasScaledContents());

    // Tab order: folder list, drive list, seconds, the six boxes, OK, Cancel.
    QWidget* expected[] = {d.mySS_Drive,     d.spnSS_Seconds,    d.chkSS_ShowPictureNumber,
                           d.chkSS_Filename, d.chkSS_FileSize,   d.chkSS_Dimensions,
                           d.chkSS_Shuffle,  d.chkSS_Subfolders, d.btnSS_Ok,
                           d.btnSS_Cancel};
    QWidget* at = d.mySS_Path;
    for (QWidget* next : expected) {
        do
            at = at->nextInFocusChain();
        while (at->focusPolicy() == Qt::NoFocus || at->focusProxy());
        EXPECT_EQ(at, next) << at->metaObject()->className();
    }
}

TEST_F(ScreensaverSettingsTest, EveryTextIsWholeAndInsideItsParent) {
    auto w = viewerAt(dir.path(), QStringLiteral("5"));
    frmScreensaverSettings d(w->currentSettings());
    const QList<QWidget*> texts = {
        d.Label1,           d.chkSS_ShowPictureNumber, d.chkSS_Filename, d.chkSS_FileSize,
        d.chkSS_Dimensions, d.chkSS_Shuffle,           d.btnSS_Ok,       d.btnSS_Cancel};
    for (QWidget* t : texts) {
        SCOPED_TRACE(t->metaObject()->className());
        EXPECT_GE(t->width(), t->sizeHint().width());
        EXPECT_LE(t->x() + t->width(), t->parentWidget()->width());
        EXPECT_GE(t->x(), 0);
    }
    EXPECT_EQ(d.Label1->text(), "Slide Seconds:");
}

TEST_F(ScreensaverSettingsTest, OkWithoutChangesWritesTheSameSixValuesBack) {
    auto w = viewerAt(path("holiday"), QStringLiteral("05"));
    auto viewer = test::drive(*w);
    viewer.setChecked(Part::ShowNumber, true);
    viewer.setChecked(Part::ShowFilename, false);
    viewer.setChecked(Part::ShowFileSize, false);
    viewer.setChecked(Part::ShowDimensions, true);

    frmScreensaverSettings d(w->currentSettings());
    EXPECT_EQ(d.mySS_Drive->drive(), viewer.drive());
    EXPECT_EQ(d.mySS_Path->path(), path("holiday"));
    EXPECT_EQ(d.spnSS_Seconds->minimum(), 1);
    EXPECT_EQ(d.spnSS_Seconds->maximum(), 30);
    EXPECT_EQ(d.spnSS_Seconds->value(), 5);
    EXPECT_EQ(d.spnSS_Seconds->text(), "5");
    EXPECT_TRUE(d.chkSS_ShowPictureNumber->isChecked());
    EXPECT_FALSE(d.chkSS_Filename->isChecked());
    EXPECT_FALSE(d.chkSS_FileSize->isChecked());
    EXPECT_TRUE(d.chkSS_Dimensions->isChecked());

    d.btnSS_Ok->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(storedValues(), withSix(seeded(), {
                                                    {"Last Directory", path("holiday")},
                                                    {"Show Dimensions", "true"},
                                                    {"Show File Size", "false"},
                                                    {"Loop Seconds", "5"},
                                                    {"Show Filename", "false"},
                                                    {"Show Picture Number", "true"},
                                                    {"Include Subfolders", "false"},
                                                    {"Shuffle", "false"},
                                                }));
    // Shuffle stored on: the next screensaver (and this dialog) starts with it.
    d.chkSS_Shuffle->setChecked(true);
    d.chkSS_Subfolders->setChecked(true);
    d.btnSS_Ok_Click();
    EXPECT_EQ(storedValues().at("Shuffle"), "true");
    EXPECT_EQ(storedValues().at("Include Subfolders"), "true");
    auto saver = start({"/s"});
    EXPECT_TRUE(saver->shufflesPictures());
    EXPECT_TRUE(saver->includesSubfolders());
    frmScreensaverSettings again(saver->currentSettings());
    EXPECT_TRUE(again.chkSS_Shuffle->isChecked());
    EXPECT_TRUE(again.chkSS_Subfolders->isChecked());
}

TEST_F(ScreensaverSettingsTest, SecondsComeFromTheLeadingNumberOfTheStoredText) {
    const std::pair<const char*, int> cases[] = {
        {"05", 5},  {"7", 7},    {"12abc", 12}, {" 9", 9},  {"7.5", 8},
        {"6.5", 6}, {"2.51", 3}, {"30", 30},    {"45", 30}, {"99999999999999999999", 30},
        {"-3", 1},  {"abc", 1},  {"", 1},       {".", 1},   {"0", 1},
        {"+4", 4},
    };
    for (auto [text, seconds] : cases) {
        test::storeSettings({{QStringLiteral("Loop Seconds"), QString::fromUtf8(text)}});
        auto w = start({dir.path()});
        frmScreensaverSettings d(w->currentSettings());
        EXPECT_EQ(d.spnSS_Seconds->value(), seconds) << text;
        EXPECT_EQ(d.spnSS_Seconds->text(), QString::number(seconds)) << text;
    }
}

TEST_F(ScreensaverSettingsTest, ANonNumberStoresSecondsTheViewerCanRun) {
    test::storeSettings({{QStringLiteral("Loop Seconds"), QStringLiteral("soon")}});
    auto w = start({dir.path()});
    frmScreensaverSettings d(w->currentSettings());
    // The spin box shows the slideshow's lowest value and stores exactly that.
    ASSERT_EQ(d.spnSS_Seconds->value(), 1);
    EXPECT_EQ(d.spnSS_Seconds->text(), "1");
    d.btnSS_Ok_Click();
    EXPECT_EQ(storedValues().at("Loop Seconds"), "1");
}

// Steps the spin box as a press on one of its arrows with the mouse does.
static void clickArrow(QSpinBox* box, QStyle::SubControl arrow) {
    QStyleOptionSpinBox option;
    option.initFrom(box);
    option.subControls = QStyle::SC_All;
    option.buttonSymbols = box->buttonSymbols();
    option.stepEnabled = QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
    option.frame = box->hasFrame();
    const QRect rect = box->style()->subControlRect(QStyle::CC_SpinBox, &option, arrow, box);
    ASSERT_FALSE(rect.isEmpty());
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, rect.center());
}

TEST_F(ScreensaverSettingsTest, SpinBoxStopsAtItsEndsAndStoresWhatItShows) {
    using Step = std::function<void(QSpinBox*)>;
    const auto key = [](Qt::Key k) -> Step {
        return [k](QSpinBox* box) { QTest::keyClick(box, k); };
    };
    const auto arrow = [](QStyle::SubControl a) -> Step {
        return [a](QSpinBox* box) { clickArrow(box, a); };
    };
    const struct {
        const char* how;
        int from;
        Step step;
        int to;
    } cases[] = {
        {"Up at the top", 30, key(Qt::Key_Up), 30},
        {"Down at the bottom", 1, key(Qt::Key_Down), 1},
        {"Up to the top", 29, key(Qt::Key_Up), 30},
        {"Down to the bottom", 2, key(Qt::Key_Down), 1},
        {"Up", 5, key(Qt::Key_Up), 6},
        {"PageUp past the top", 25, key(Qt::Key_PageUp), 30},
        {"PageDown past the bottom", 5, key(Qt::Key_PageDown), 1},
        {"up arrow", 5, arrow(QStyle::SC_SpinBoxUp), 6},
        {"up arrow at the top", 30, arrow(QStyle::SC_SpinBoxUp), 30},
        {"down arrow", 5, arrow(QStyle::SC_SpinBoxDown), 4},
        {"down arrow at the bottom", 1, arrow(QStyle::SC_SpinBoxDown), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        auto w = viewerAt(dir.path(), QString::number(c.from));
        frmScreensaverSettings d(w->currentSettings());
        ASSERT_EQ(d.spnSS_Seconds->value(), c.from);
        c.step(d.spnSS_Seconds);
        EXPECT_EQ(d.spnSS_Seconds->value(), c.to);
        EXPECT_EQ(d.spnSS_Seconds->text(), QString::number(c.to));
        d.btnSS_Ok_Click();
        // What the spin box shows is what is stored.
        EXPECT_EQ(storedValues().at("Loop Seconds"), QString::number(c.to));
    }
}

TEST_F(ScreensaverSettingsTest, ATypedNumberIsTakenAtOnceAndStoredAsShown) {
    const struct {
        const char* typed;
        const char* shown;
    } cases[] = {
        {"12", "12"},
        {"x9y", "9"}, // letters cannot be typed
        {"45", "4"},  // nor a number above 30
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        auto w = viewerAt(dir.path(), QStringLiteral("7"));
        frmScreensaverSettings d(w->currentSettings());
        d.spnSS_Seconds->selectAll();
        QTest::keyClicks(d.spnSS_Seconds, c.typed);
        EXPECT_EQ(d.spnSS_Seconds->text(), c.shown);
        EXPECT_EQ(QString::number(d.spnSS_Seconds->value()), c.shown);
        d.btnSS_Ok_Click();
        EXPECT_EQ(storedValues().at("Loop Seconds"), c.shown);
    }
    // A box emptied, or left at 0, shows the last number again when the typing ends, and
    // stores it.
    for (const char* typed : {"", "0"}) {
        SCOPED_TRACE(typed);
        auto w = viewerAt(dir.path(), QStringLiteral("7"));
        frmScreensaverSettings d(w->currentSettings());
        d.spnSS_Seconds->selectAll();
        QTest::keyClick(d.spnSS_Seconds, Qt::Key_Backspace);
        QTest::keyClicks(d.spnSS_Seconds, typed);
        EXPECT_EQ(d.spnSS_Seconds->text(), typed);
        EXPECT_EQ(d.spnSS_Seconds->value(), 7);
        QTest::keyClick(d.spnSS_Seconds, Qt::Key_Return);
        EXPECT_EQ(d.spnSS_Seconds->text(), "7");
        d.btnSS_Ok_Click();
        EXPECT_EQ(storedValues().at("Loop Seconds"), "7");
    }
}

TEST_F(ScreensaverSettingsTest, CancelClosingAndEscapeWriteNothing) {
    const QByteArray before = test::readAll(test::hiveFile());
    ASSERT_FALSE(before.isEmpty());
    const std::pair<const char*, std::function<void(frmScreensaverSettings&)>> ways[] = {
        {"Cancel", [](frmScreensaverSettings& d) { d.btnSS_Cancel->click(); }},
        {"close box", [](frmScreensaverSettings& d) { d.close(); }},
        {"Escape", [](frmScreensaverSettings& d) { d.reject(); }},
    };
    auto w = viewerAt(path("garden"), QStringLiteral("9"));
    for (const auto& [way, leave] : ways) {
        frmScreensaverSettings d(w->currentSettings());
        d.mySS_Path->setPath(path("holiday"));
        d.spnSS_Seconds->setValue(20);
        d.chkSS_Filename->setChecked(!d.chkSS_Filename->isChecked());
        d.show();
        leave(d);
        EXPECT_FALSE(d.isVisible()) << way;
        EXPECT_EQ(d.result(), QDialog::Rejected) << way;
        EXPECT_EQ(test::readAll(test::hiveFile()), before) << way;
    }
}

TEST_F(ScreensaverSettingsTest, AnotherDriveMovesTheFolderListAndAVolumeNotReadyIsRefused) {
    auto w = viewerAt(path("garden"), QStringLiteral("5"));
    frmScreensaverSettings d(w->currentSettings());
    const QString drive = d.mySS_Drive->drive();

    // A volume listed while mounted whose medium is gone by the time it is chosen.
    d.mySS_Drive->addItem(QStringLiteral("/no-such-volume-for-tavlin"));
    d.mySS_Drive->setCurrentIndex(d.mySS_Drive->count() - 1);
    EXPECT_EQ(d.mySS_Path->path(), path("garden"));
    EXPECT_EQ(d.mySS_Drive->drive(), drive);
    EXPECT_EQ(d.mySS_Drive->currentText(), drive);

    // A volume that answers: the folder list moves to it, and OK stores that folder.
    d.mySS_Drive->addItem(path("holiday"));
    d.mySS_Drive->setCurrentIndex(d.mySS_Drive->count() - 1);
    EXPECT_EQ(d.mySS_Path->path(), path("holiday"));
    d.btnSS_Ok_Click();
    EXPECT_EQ(storedValues().at("Last Directory"), path("holiday"));
}

TEST_F(ScreensaverSettingsTest, SettingsRunShowsTheDialogWithoutSplashStoresOkAndEnds) {
    QDir::setCurrent(path("garden"));
    Values beforeOk, six;
    bool sawDialog = false;
    bool sawSplash = false;
    whenModal([&](QWidget* modal) {
        for (QWidget* top : QApplication::topLevelWidgets())
            sawSplash = sawSplash || (qobject_cast<frmSplash*>(top) && top->isVisible());
        auto* d = qobject_cast<frmScreensaverSettings*>(modal);
        sawDialog = d != nullptr;
        if (!d) {
            modal->close();
            return;
        }
        beforeOk = storedValues();
        d->chkSS_Dimensions->setChecked(false);
        d->spnSS_Seconds->setValue(17);
        auto text = [](QCheckBox* box) { return SwitchText(box->checkState() == Qt::Checked); };
        six = {
            {"Last Directory", d->mySS_Path->path()},
            {"Show Dimensions", "false"},
            {"Show File Size", text(d->chkSS_FileSize)},
            {"Loop Seconds", "17"},
            {"Show Filename", text(d->chkSS_Filename)},
            {"Show Picture Number", text(d->chkSS_ShowPictureNumber)},
            {"Include Subfolders", "false"},
            {"Shuffle", "false"},
        };
        d->btnSS_Ok->click();
    });
    auto w = start({"/c:1234"}, /*splash=*/true);
    EXPECT_TRUE(sawDialog);
    EXPECT_FALSE(sawSplash);
    EXPECT_FALSE(shown);
    EXPECT_TRUE(test::drive(*w).screensaverMode());
    EXPECT_EQ(exits, 1);
    EXPECT_FALSE(w->isVisible());
    // Only the dialog's six values: the main window's exit in this run saves nothing.
    ASSERT_FALSE(six.empty());
    EXPECT_EQ(storedValues(), withSix(beforeOk, six));
}

TEST_F(ScreensaverSettingsTest, SettingsRunCancelledStoresNothingAndEnds) {
    QByteArray beforeCancel;
    whenModal([&](QWidget* modal) {
        beforeCancel = test::readAll(test::hiveFile());
        if (auto* d = qobject_cast<frmScreensaverSettings*>(modal))
            d->btnSS_Cancel->click();
        else
            modal->close();
    });
    auto w = start({"-c"});
    EXPECT_FALSE(shown);
    EXPECT_EQ(exits, 1);
    ASSERT_FALSE(beforeCancel.isEmpty());
    EXPECT_EQ(test::readAll(test::hiveFile()), beforeCancel);
}

TEST_F(ScreensaverSettingsTest, AFolderStillBeingReadIsTheOneTheDialogShowsAndStores) {
    for (int i = 0; i < 5; ++i)
        test::writeFile(QDir(path("holiday")).filePath(QStringLiteral("p%1.jpg").arg(i)), "x");
    auto w = start({dir.path()});
    auto viewer = test::drive(*w);
    viewer.setFolderBackgroundBytes(0); // read on the worker, as a large folder is
    ASSERT_TRUE(viewer.openFolder(path("holiday")));
    ASSERT_TRUE(viewer.folderReading());
    // The folder asked for, before its listing has arrived: copying the path then took the
    // previous folder, and a large "Last Directory" was saved as another one.
    EXPECT_EQ(viewer.folder(), path("holiday"));

    frmScreensaverSettings d(w->currentSettings());
    EXPECT_EQ(d.mySS_Path->path(), path("holiday"));
    d.btnSS_Ok->click();
    EXPECT_EQ(storedValues().at("Last Directory"), path("holiday"));
    // The window's lists still show the folder they were read from until the new one is in.
    QTRY_COMPARE_WITH_TIMEOUT(viewer.count(), 5, 5000);
    EXPECT_EQ(viewer.listedFolder(), path("holiday"));
}
