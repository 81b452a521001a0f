#pragma once

#include <functional>

#include <QString>
#include <QStringList>

#include "fileops/batchrename.h"

namespace tavlin {

class frmGetPrefix;

// What the batch rename needs from the main window. The window implements it; tests
// implement it over a plain folder.
class BatchRenameHost {
public:
    virtual ~BatchRenameHost() = default;

    // The folder the file list shows, and its entries in list order.
    virtual QString batchFolder() const = 0;
    virtual QStringList batchFileNames() const = 0;
    // The file list reads its folder again.
    virtual void batchRefreshFiles() = 0;
    // Selects the list's first entry with the effect of a user's click (shows it).
    virtual void batchSelectFirstFile() = 0;
    // The slideshow timer's state, and stopping and starting the slideshow.
    virtual bool batchSlideshowRunning() const = 0;
    virtual void batchStopSlideshow() = 0;
    virtual void batchStartSlideshow() = 0;
    // The file list and the exit, batch-rename and slideshow buttons.
    virtual void batchSetControlsEnabled(bool enabled) = 0;
    // A warning message box with a single OK button.
    virtual void batchShowMessage(const QString& title, const QString& text) = 0;
};

// The title of the messages the batch shows.
QString batchMessageTitle();
// The closing message when some files kept their names; empty when every file was done.
// Lists names while they take at most `maxLines` lines (`linesOf` tells how many one entry
// wraps to; one by default), then counts the rest ("… and 40 more").
QString batchFailureMessage(const BatchOutcome& outcome, int maxLines = 6,
                            const std::function<int(const QString&)>& linesOf = {});

// Renames every file the host's list shows to svPrefix + padded number + extension.
// Refuses a prefix that would leave the folder before anything moves. `dialog` (may be
// null) shows the progress. False for an empty list or a refused batch.
bool RenameFilesUsingPrefix(BatchRenameHost& host, QString& svPrefix, frmGetPrefix* dialog);

} // namespace tavlin
