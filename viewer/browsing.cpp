// The drive, folder and file lists' handlers.
#include <QAction>

#include "fileops/batchrename.h"
#include "viewer/drivelist.h"
#include "viewer/filelist.h"
#include "viewer/folderlist.h"
#include "viewer/frmmenus.h"
#include "viewer/imageview.h"
#include "viewer/tavlin.h"

namespace tavlin {

void Tavlin::myDrive_Change() {
    const QString previousFolder = myPath->path();
    if (!myPath->setPath(myDrive->drive())) {
        // A volume that is not ready: keep the lists as they were.
        myDrive->revertTo(previousFolder.isEmpty()
                              ? QString()
                              : DriveList::driveOf(previousFolder, DriveList::volumeRoots()));
        return;
    }
    // The file list follows the folder in myPath_Change, which has run by now, or runs
    // when a large folder's read is done.
    stopSlideshow();
}

void Tavlin::myPath_Change() {
    // A batch rename that a crash cut short is finished before the folder is listed.
    const RecoveryOutcome recovered = RecoverBatchRename(myPath->path());
    if (recovered.journalFound || recovered.repaired > 0)
        myFiles->setFolder(myPath->path()); // the recovery renamed files: read them again
    else
        myFiles->setListing(myPath->path(), myPath->takeFiles());
    stopSlideshow();
    Menus().mStartSlideshow->setEnabled(myFiles->count() > 0);
}

void Tavlin::myFiles_Click() {
    DisplayPict(myPicture, selectedFilePath());
}

} // namespace tavlin
