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
#include "fileops/batchrenamehost.h"
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

// What the batch rename asks of the window: its folder and names, a fresh read, the first
// picture shown, the slideshow paused, the controls it must not be used with, its messages.
class Tavlin::BatchHost : public BatchRenameHost {
public:
    explicit BatchHost(Tavlin& window) : w(window) {}

    // The folder of the names the batch renames, which another folder's read does not change.
    QString batchFolder() const override { return w.myFiles->folder(); }
    QStringList batchFileNames() const override { return w.myFiles->names(); }
    void batchRefreshFiles() override { w.myFiles->refresh(); }
    void batchSelectFirstFile() override {
        if (w.myFiles->count() > 0) {
            w.myFiles->setSelectedIndex(0);
            // Index 0 may have been selected before the refresh; show the new first file anyway.
            w.myFiles_Click();
        }
    }
    bool batchSlideshowRunning() const override { return w.m_slideshow->isRunning(); }
    void batchStopSlideshow() override { w.stopSlideshow(); }
    void batchStartSlideshow() override { w.startSlideshow(); }
    void batchSetControlsEnabled(bool enabled) override {
        for (QWidget* widget : std::initializer_list<QWidget*>{w.myFiles, w.btnExit, w.btnRename,
                                                               w.btnStartSlideshow})
            widget->setEnabled(enabled);
    }
    void batchShowMessage(const QString& title, const QString& text) override {
        showWrappedWarning(&w, title, text);
    }

private:
    Tavlin& w;
};

frmGetPrefix* Tavlin::prefixDialog() {
    if (!m_prefixDialog) {
        m_prefixDialog = new frmGetPrefix(this, m_tpp);
        m_batchHost = std::make_shared<BatchHost>(*this);
        connect(m_prefixDialog, &frmGetPrefix::prefixAccepted, this, [this](QString& svPrefix) {
            RenameFilesUsingPrefix(*m_batchHost, svPrefix, m_prefixDialog);
        });
    }
    return m_prefixDialog;
}

void Tavlin::btnRename_Click() {
    prefixDialog()->exec();
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
