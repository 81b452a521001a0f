// Moving the stored settings into the main window's widgets and back.
#include <QCheckBox>
#include <QGroupBox>
#include <QSpinBox>

#include "registry/settings.h"
#include "viewer/drivelist.h"
#include "viewer/folderlist.h"
#include "viewer/slideshow.h"
#include "viewer/tavlin.h"

namespace tavlin {

void Tavlin::LoadRegistrySettings(const StartRequest& request) {
    // A picture named on the command line opens in its folder.
    // A screensaver drawn for a daemon saves nothing, so it writes no first-start settings.
    const Settings s = tavlin::LoadRegistrySettings(
        request.folder.isEmpty() ? request.commandLine : request.folder,
        request.mode != RunMode::Display);
    m_workingDirectory = s.workingDirectory;
    bShowControls = s.showControls;
    // Each assignment runs the box's own handler, as a click would.
    chkCenter->setChecked(s.centerPicture);
    chkStretch->setChecked(s.stretchPicture);
    chkLoop->setChecked(s.loopSlideshow);
    chkPlaySound->setChecked(s.playSlideshowSound);
    chkDimensions->setChecked(s.showDimensions);
    chkFileSize->setChecked(s.showFileSize);
    chkFilename->setChecked(s.showFilename);
    chkShowPictureNumber->setChecked(s.showPictureNumber);
    spnSeconds->setValue(s.loopSeconds);
    myDrive->setDrive(s.lastDirectory);
    myPath->setPath(s.lastDirectory);
    frameSettings->setVisible(bShowControls);
    m_slideshow->setShuffle(s.shuffle);
    m_includeSubfolders = s.includeSubfolders;
}

Settings Tavlin::currentSettings() const {
    Settings s;
    s.showControls = bShowControls;
    // Only a checked box is on; a grayed one is stored as off.
    s.centerPicture = chkCenter->checkState() == Qt::Checked;
    s.stretchPicture = chkStretch->checkState() == Qt::Checked;
    s.loopSlideshow = chkLoop->checkState() == Qt::Checked;
    s.playSlideshowSound = chkPlaySound->checkState() == Qt::Checked;
    s.lastDirectory = myPath->path();
    s.workingDirectory = m_workingDirectory;
    s.showDimensions = chkDimensions->checkState() == Qt::Checked;
    s.showFileSize = chkFileSize->checkState() == Qt::Checked;
    // The seconds the slideshow waits, as the box shows them.
    s.loopSeconds = m_slideshow->seconds();
    s.showFilename = chkFilename->checkState() == Qt::Checked;
    s.showPictureNumber = chkShowPictureNumber->checkState() == Qt::Checked;
    // The screensaver's own two, which the viewer shows nowhere and never stores.
    s.shuffle = m_slideshow->shuffles();
    s.includeSubfolders = m_includeSubfolders;
    return s;
}

void Tavlin::SaveRegistrySettings() {
    tavlin::SaveRegistrySettings(currentSettings());
}

} // namespace tavlin
