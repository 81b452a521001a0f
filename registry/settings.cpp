#include "registry/settings.h"

#include <algorithm>
#include <cmath>

#include <QDir>

#include "platform/defaultfolder.h"
#include "platform/exists.h"
#include "platform/report.h"
#include "registry/registrymanager.h"

namespace tavlin {

namespace {

const QString kShowControls = QStringLiteral("Show Controls");
const QString kCenterPicture = QStringLiteral("Center Picture");
const QString kStretchPicture = QStringLiteral("Stretch Picture");
const QString kLoopSlideshow = QStringLiteral("Loop Slideshow");
const QString kPlaySound = QStringLiteral("Play Slideshow Sound");
const QString kLastDirectory = QStringLiteral("Last Directory");
const QString kWorkingDirectory = QStringLiteral("Working Directory");
const QString kShowDimensions = QStringLiteral("Show Dimensions");
const QString kShowFileSize = QStringLiteral("Show File Size");
const QString kLoopSeconds = QStringLiteral("Loop Seconds");
const QString kShowFilename = QStringLiteral("Show Filename");
const QString kShowPictureNumber = QStringLiteral("Show Picture Number");
const QString kShuffle = QStringLiteral("Shuffle");
const QString kIncludeSubfolders = QStringLiteral("Include Subfolders");

// The key stored on the first start carries 5 seconds; that run itself uses 10.
const QString kFirstStartStoredSeconds = QStringLiteral("5");

QString readText(RegistryManager& rm, const QString& name) {
    QString text;
    rm.ReadValue(name, text);
    return text;
}

bool write(RegistryManager& rm, const QString& name, const QString& text) {
    return rm.WriteValue(name, text, regtype::Sz);
}

Settings firstStart(RegistryManager& rm, bool store) {
    Settings s;
    s.lastDirectory = DefaultFolder();
    s.workingDirectory = QDir::toNativeSeparators(QDir::currentPath());
    if (!store)
        return s;
    rm.CreateSubKey();
    const QString on = SwitchText(true);
    rm.WriteValues({{kShowControls, on},
                    {kCenterPicture, on},
                    {kStretchPicture, on},
                    {kLoopSlideshow, on},
                    {kPlaySound, on},
                    {kLastDirectory, s.lastDirectory},
                    {kWorkingDirectory, s.workingDirectory},
                    {kShowDimensions, on},
                    {kShowFileSize, on},
                    {kLoopSeconds, kFirstStartStoredSeconds},
                    {kShowFilename, on},
                    {kShowPictureNumber, on}},
                   regtype::Sz);
    return s;
}

Settings laterStart(RegistryManager& rm) {
    Settings s;
    s.workingDirectory = readText(rm, kWorkingDirectory);
    s.showControls = SwitchIsOn(readText(rm, kShowControls));
    s.centerPicture = SwitchIsOn(readText(rm, kCenterPicture));
    s.stretchPicture = SwitchIsOn(readText(rm, kStretchPicture));
    s.loopSlideshow = SwitchIsOn(readText(rm, kLoopSlideshow));
    s.playSlideshowSound = SwitchIsOn(readText(rm, kPlaySound));
    s.lastDirectory = readText(rm, kLastDirectory);
    s.showDimensions = SwitchIsOn(readText(rm, kShowDimensions));
    s.showFileSize = SwitchIsOn(readText(rm, kShowFileSize));
    s.loopSeconds = LoopSecondsFromText(readText(rm, kLoopSeconds));
    s.showFilename = SwitchIsOn(readText(rm, kShowFilename));
    s.showPictureNumber = SwitchIsOn(readText(rm, kShowPictureNumber));
    s.shuffle = SwitchIsOn(readText(rm, kShuffle));
    s.includeSubfolders = SwitchIsOn(readText(rm, kIncludeSubfolders));
    return s;
}

} // namespace

QString SwitchText(bool on) {
    return on ? QStringLiteral("true") : QStringLiteral("false");
}

bool SwitchIsOn(const QString& text) {
    return text.toLower() == QLatin1String("true");
}

int LeadingSecondsInRange(const QString& text, int low, int high) {
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    const qsizetype start = i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    auto isAsciiDigit = [&text](qsizetype at) { return text[at] >= u'0' && text[at] <= u'9'; };
    const qsizetype digitsFrom = i;
    while (i < text.size() && isAsciiDigit(i))
        ++i;
    bool digits = i > digitsFrom;
    if (i < text.size() && text[i] == u'.') {
        const qsizetype fractionFrom = ++i;
        while (i < text.size() && isAsciiDigit(i))
            ++i;
        digits = digits || i > fractionFrom;
    }
    // nearbyint rounds halves to the even neighbour; the clamp also tames very long numbers.
    const double value = digits ? std::nearbyint(text.mid(start, i - start).toDouble()) : 0.0;
    return static_cast<int>(std::clamp(value, double(low), double(high)));
}

int LoopSecondsFromText(const QString& text) {
    return LeadingSecondsInRange(text, kMinLoopSeconds, kMaxLoopSeconds);
}

Settings LoadRegistrySettings(const QString& svCommandLine, bool store) {
    RegistryManager rm = SettingsKey();
    // Said once here rather than failing unseen at every later save.
    if (store) {
        if (const QString problem = hivestore::saveProblem(hkey::CurrentUser); !problem.isEmpty())
            reportProblem(problem);
    }
    // A key that is there but cannot be written (read-only settings file) still holds the
    // user's settings; only a key that cannot be read at all means a first start.
    const bool keyThere = rm.DoesKeyExist() || rm.CanReadKey();
    Settings s = keyThere ? laterStart(rm) : firstStart(rm, store);

    if (!svCommandLine.isEmpty() && FolderExists(svCommandLine))
        s.lastDirectory = svCommandLine;
    if (!FolderExists(s.lastDirectory)) {
        s.lastDirectory = DefaultFolder();
        if (store)
            write(rm, kLastDirectory, s.lastDirectory);
    }
    return s;
}

namespace {
using Values = std::vector<std::pair<QString, QString>>;

// The six values the viewer and the screensaver dialog share, in the order both store them.
void addSharedValues(Values& values, const Settings& s) {
    values.insert(values.end(),
                  {{kLastDirectory, s.lastDirectory},
                   {kShowDimensions, SwitchText(s.showDimensions)},
                   {kShowFileSize, SwitchText(s.showFileSize)},
                   {kLoopSeconds,
                    QString::number(std::clamp(s.loopSeconds, kMinLoopSeconds, kMaxLoopSeconds))},
                   {kShowFilename, SwitchText(s.showFilename)},
                   {kShowPictureNumber, SwitchText(s.showPictureNumber)}});
}
} // namespace

bool SaveRegistrySettings(const Settings& s) {
    RegistryManager rm = SettingsKey();
    // One save for all eleven values: one lock, one write, one sync at exit.
    Values values{{kShowControls, SwitchText(s.showControls)},
                  {kCenterPicture, SwitchText(s.centerPicture)},
                  {kStretchPicture, SwitchText(s.stretchPicture)},
                  {kLoopSlideshow, SwitchText(s.loopSlideshow)},
                  {kPlaySound, SwitchText(s.playSlideshowSound)}};
    addSharedValues(values, s);
    return rm.WriteValues(values, regtype::Sz);
}

bool SaveScreensaverSettings(const Settings& s) {
    RegistryManager rm = SettingsKey();
    Values values;
    addSharedValues(values, s);
    values.push_back({kIncludeSubfolders, SwitchText(s.includeSubfolders)});
    values.push_back({kShuffle, SwitchText(s.shuffle)});
    return rm.WriteValues(values, regtype::Sz);
}

RegistryManager SettingsKey() {
    RegistryManager rm;
    rm.setUseAutoAppSubKeys(true);
    rm.setUseApplication(true);
    rm.setUseCompanyName(true);
    rm.setCompanyName(QStringLiteral("Zan"));
    rm.setApplication(QStringLiteral("Tavlin"));
    rm.setBaseKey(hkey::CurrentUser);
    rm.setSubkey(QString());
    return rm;
}

} // namespace tavlin
