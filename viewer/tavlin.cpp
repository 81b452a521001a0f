#include "viewer/tavlin.h"

#include <algorithm>
#include <cmath>

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTimer>

#include "assets/artwork.h"
#include "assets/look.h"
#include "decode/formats.h"
#include "platform/platform.h"
#include "viewer/drivelist.h"
#include "viewer/filelist.h"
#include "viewer/folderlist.h"
#include "viewer/frmmenus.h"
#include "viewer/imageview.h"
#include "viewer/slideshow.h"

namespace tavlin {

namespace {
const QColor LineGrey(224, 224, 224);

// The window's lettering, in points; the information lines have their own.
constexpr double kLinePoints = 8.25;

using look::paintGreenOnBlack;
using look::sansSerif;
} // namespace

Tavlin::Tavlin(TavlinOptions options)
    : m_platform(options.platform ? options.platform : &desktopPlatform()),
      m_options(std::move(options)) {
    QScreen* screen = QGuiApplication::primaryScreen();
    m_screen = m_options.screenPixels.isEmpty() && screen ? screen->geometry().size()
                                                          : m_options.screenPixels;
    if (m_options.devicePixelRatio > 0)
        m_devicePixelRatio = m_options.devicePixelRatio;
    else if (screen)
        m_devicePixelRatio = screen->devicePixelRatio();
    if (m_options.twipsPerPixel > 0)
        m_tpp = m_options.twipsPerPixel;
    else if (screen && screen->logicalDotsPerInchX() > 0)
        m_tpp = 1440.0 / screen->logicalDotsPerInchX();

    setWindowTitle(QStringLiteral("Tavlin 2.0"));
    setWindowIcon(artwork::windowIcon());
    setWindowFlag(Qt::FramelessWindowHint);
    setFont(sansSerif(kLinePoints, false));
    paintGreenOnBlack(this, true);
    buildWidgets();
    connectSlideshow();
    connectHandlers();
    connectInput();
}

Tavlin::~Tavlin() {
    // A walk of the screensaver's tree still running posts to this window: end it first.
    m_treeStop.store(true);
    m_treeReader.clear();
    m_treeReader.waitForDone();
}

namespace {
QLabel* makeLabel(QWidget* parent, const QString& text) {
    auto* label = new QLabel(text, parent);
    paintGreenOnBlack(label, false);
    return label;
}
} // namespace

void Tavlin::buildWidgets() {
    mySeconds = new QTimer(this);
    mySeconds->setInterval(3000);

    // Later siblings draw over earlier ones: the picture lies lowest, the
    // information lines over it, the panel on top of all.
    myPicture = new ImageView(this);
    place(myPicture, design::myPicture);
    myPicture->hide();
    txtPicture = makeLabel(this, QStringLiteral("Picture:"));
    txtHeight = makeLabel(this, QStringLiteral("Height:"));
    txtWidth = makeLabel(this, QStringLiteral("Width:"));
    txtFileSize = makeLabel(this, QStringLiteral("File Size:"));
    txtFile = makeLabel(this, QString());
    sizeInformationLines(1.0);
    place(txtFile, design::txtFile);
    txtFile->adjustSize();
    for (auto [label, r] : {std::pair{txtPicture, design::txtPicture},
                            {txtHeight, design::txtHeight},
                            {txtWidth, design::txtWidth},
                            {txtFileSize, design::txtFileSize}}) {
        label->move(px(r.left), px(r.top));
    }
    imgError = new ImageView(this);
    imgError->setPicture(artwork::errorPicture());
    place(imgError, design::imgError);

    frameSettings = new QGroupBox(QStringLiteral("Settings"), this);
    paintGreenOnBlack(frameSettings, true);
    place(frameSettings, design::frameSettings);

    myDrive = new DriveList(frameSettings);
    place(myDrive, design::myDrive);
    myPath = new FolderList(frameSettings);
    place(myPath, design::myPath);
    myFiles = new FileList(frameSettings);
    // Every ending of every format shown, JPEG's other names too: a desktop's "Open with"
    // hands us every file of the MIME types the desktop entry names.
    myFiles->setPattern(pictureNamePattern());
    myPath->setFilePattern(myFiles->pattern());
    place(myFiles, design::myFiles);

    frameChecks = new QFrame(frameSettings);
    paintGreenOnBlack(frameChecks, true);
    place(frameChecks, design::frameChecks);

    auto check = [this](const QString& caption, TwipRect r) {
        auto* box = new QCheckBox(caption, frameChecks);
        paintGreenOnBlack(box, false);
        box->setChecked(true);
        place(box, r);
        return box;
    };
    chkCenter = check(QStringLiteral("Center Picture"), {600, 600, 1695, 375});
    chkStretch = check(QStringLiteral("Stretch to Screen"), {600, 950, 1815, 375});
    chkLoop = check(QStringLiteral("Loop Slideshow"), {600, 1300, 1815, 375});
    chkPlaySound = check(QStringLiteral("Play Slide Sound"), {600, 1650, 1815, 375});
    Line1 = new QFrame(frameChecks);
    Line1->setFrameShape(QFrame::NoFrame);
    Line1->setAutoFillBackground(true);
    QPalette linePalette = Line1->palette();
    linePalette.setColor(QPalette::Window, LineGrey);
    Line1->setPalette(linePalette);
    Line1->setGeometry(px(510), px(2100), px(2310 - 510), 1);
    chkShowPictureNumber = check(QStringLiteral("Show Pict Number"), {600, 2160, 1815, 375});
    chkFilename = check(QStringLiteral("Show Filename"), {600, 2520, 1815, 375});
    chkFileSize = check(QStringLiteral("Show File Size"), {600, 2880, 1815, 375});
    chkDimensions = check(QStringLiteral("Show Dimensions"), {600, 3240, 1815, 375});

    btnStartSlideshow = new QPushButton(QStringLiteral("&Start Slideshow"), frameChecks);
    place(btnStartSlideshow, {120, 240, 1335, 285});
    // The slideshow's seconds: typed, or stepped with the arrows and Up and Down.
    spnSeconds = new QSpinBox(frameChecks);
    spnSeconds->setRange(kMinLoopSeconds, kMaxLoopSeconds);
    spnSeconds->setAlignment(Qt::AlignCenter);
    place(spnSeconds, {1560, 210, 975, 285});
    btnRename = new QPushButton(QStringLiteral("Batch &Rename"), frameChecks);
    place(btnRename, {120, 3720, 1335, 285});
    btnExit = new QPushButton(QStringLiteral("E&xit"), frameChecks);
    place(btnExit, {1560, 3720, 975, 285});
}

void Tavlin::connectHandlers() {
    connect(myDrive, &DriveList::driveChanged, this, &Tavlin::myDrive_Change);
    connect(myPath, &FolderList::pathChanged, this, &Tavlin::myPath_Change);
    connect(myFiles, &FileList::selectionChanged, this, &Tavlin::myFiles_Click);
    // toggled fires only on a real change of value, by a click or by the program.
    connect(chkCenter, &QCheckBox::toggled, this, &Tavlin::chkCenter_Click);
    connect(chkStretch, &QCheckBox::toggled, this, &Tavlin::chkCenter_Click);
    // Each information switch shows or hides its lines.
    for (auto [box, line] : {std::pair{chkShowPictureNumber, txtPicture},
                             {chkFilename, txtFile},
                             {chkFileSize, txtFileSize},
                             {chkDimensions, txtWidth},
                             {chkDimensions, txtHeight}})
        connect(box, &QCheckBox::toggled, line, &QWidget::setVisible);
    connect(spnSeconds, &QSpinBox::valueChanged, m_slideshow, &Slideshow::setSeconds);
    connect(chkLoop, &QCheckBox::toggled, m_slideshow, &Slideshow::setLoop);
    connect(btnStartSlideshow, &QPushButton::clicked, this, &Tavlin::btnStartSlideshow_Click);
    connect(btnExit, &QPushButton::clicked, this, &Tavlin::ExitProgram);
    connect(btnRename, &QPushButton::clicked, this, &Tavlin::btnRename_Click);
}

// Center or Stretch changed: the picture on show is laid out anew.
void Tavlin::chkCenter_Click() {
    if (myFiles->selectedIndex() != -1)
        myFiles_Click();
}

} // namespace tavlin
