// Commands of the pop-up menu that reach other parts of the program: renames,
// printing, the About window and the help document.
#include <QAbstractButton>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "decode/pictureloader.h"
#include "desktop/help.h"
#include "desktop/print.h"
#include "fileops/frmgetprefix.h"
#include "fileops/renamesingle.h"
#include "viewer/filelist.h"
#include "viewer/folderlist.h"
#include "viewer/frmabout.h"
#include "viewer/imageview.h"
#include "viewer/slideshow.h"
#include "viewer/tavlin.h"

namespace tavlin {

namespace {
// A print never needs more than this many pixels a side: a page is far smaller.
constexpr int PrintClipPixels = 8192;
} // namespace

void Tavlin::RenameSingleFile() {
    const SingleRenameOutcome outcome = tavlin::RenameSingleFile(
        myFiles->folder(), myFiles->selectedName(), inputBoxAsker(this), warningBoxTeller(this),
        ListedNames{[this](const QString& name) { return myFiles->namePattern().matches(name); },
                    myFiles->pattern()});
    if (outcome.kind == SingleRenameOutcome::Kind::Renamed) {
        myFiles->refresh();
        const qsizetype index = myFiles->names().indexOf(outcome.newName);
        if (index >= 0)
            myFiles->setSelectedIndex(index);
    }
}

frmGetPrefix* Tavlin::prefixDialog() {
    if (!m_prefixDialog) {
        m_prefixDialog = new frmGetPrefix(this, m_tpp);
        connect(m_prefixDialog, &frmGetPrefix::prefixAccepted, this, [this](QString& svPrefix) {
            RenameFilesUsingPrefix(*this, svPrefix, m_prefixDialog);
        });
    }
    return m_prefixDialog;
}

void Tavlin::btnRename_Click() {
    prefixDialog()->exec();
}

QString Tavlin::batchFolder() const {
    // The folder of the names the batch renames, which another folder's read does not change.
    return myFiles->folder();
}
QStringList Tavlin::batchFileNames() const {
    return myFiles->names();
}
void Tavlin::batchRefreshFiles() {
    myFiles->refresh();
}

void Tavlin::batchSelectFirstFile() {
    if (myFiles->count() > 0) {
        myFiles->setSelectedIndex(0);
        // Index 0 may have been selected before the refresh; show the new first file anyway.
        myFiles_Click();
    }
}

bool Tavlin::batchSlideshowRunning() const {
    return m_slideshow->isRunning();
}
void Tavlin::batchStopSlideshow() {
    stopSlideshow();
}
void Tavlin::batchStartSlideshow() {
    startSlideshow();
}

void Tavlin::batchSetControlsEnabled(bool enabled) {
    for (QWidget* widget :
         std::initializer_list<QWidget*>{myFiles, btnExit, btnRename, btnStartSlideshow})
        widget->setEnabled(enabled);
}

void Tavlin::batchShowMessage(const QString& title, const QString& text) {
    showWrappedWarning(this, title, text);
}

void Tavlin::PrintPicture() {
    if (myPicture->isHidden() || m_shownPicture.isEmpty())
        return;
    // The print shows the picture at its own size, so it is decoded again at
    // that size rather than taken from the screen's scaled copy.
    const LoadedPicture picture = loadPicture(m_shownPicture, [](QSize size) {
        return DecodeRequest{size, QRect(0, 0, std::min(size.width(), PrintClipPixels),
                                         std::min(size.height(), PrintClipPixels))};
    });
    if (picture.ok)
        tavlin::PrintPicture(picture.image,
                             m_shownPicture.mid(m_shownPicture.lastIndexOf(QLatin1Char('/')) + 1),
                             {}, m_tpp);
}

void Tavlin::ShowAbout() {
    frmAbout::showAbout(nullptr);
}

void Tavlin::OpenHelp() {
    OpenHelpFile(m_workingDirectory, *m_platform);
}

} // namespace tavlin
