#include "fileops/batchrenamehost.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include "fileops/batchinflight.h"
#include "fileops/frmgetprefix.h"

namespace tavlin {

namespace {

// The hourglass for every window of the program while the batch runs.
class WaitCursor {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// Enough detail to act on without a message box taller than the screen.
constexpr size_t kListedFailures = 5;

} // namespace

QString batchMessageTitle() {
    return QStringLiteral("Batch Rename");
}

QString batchFailureMessage(const BatchOutcome& outcome) {
    if (outcome.failures.empty())
        return {};
    const size_t n = outcome.failures.size();
    QString text = n == 1 ? QStringLiteral("1 file could not be renamed:")
                          : QStringLiteral("%1 files could not be renamed:").arg(n);
    for (size_t i = 0; i < n && i < kListedFailures; ++i) {
        const BatchFailure& f = outcome.failures[i];
        text += QStringLiteral("\n%1 (not %2: %3)").arg(f.keptName, f.newName, f.result.describe());
    }
    if (n > kListedFailures)
        text += QStringLiteral("\nand %1 more.").arg(n - kListedFailures);
    return text;
}

bool RenameFilesUsingPrefix(BatchRenameHost& host, QString& svPrefix, frmGetPrefix* dialog) {
    QString message;
    bool processed = false;
    {
        WaitCursor hourglass;
        if (host.batchFileNames().isEmpty())
            return false;
        message = BatchPrefixProblem(svPrefix);
        if (message.isEmpty()) {
            const bool wasRunning = host.batchSlideshowRunning();
            if (wasRunning)
                host.batchStopSlideshow();
            host.batchRefreshFiles();
            host.batchSetControlsEnabled(false);

            const QString folder = host.batchFolder();
            const std::vector<BatchEntry> plan = PlanBatchRename(svPrefix, host.batchFileNames());
            BatchProgress progress;
            if (dialog)
                progress = dialog->progressReporter();
            else
                progress = [](const QString&, const QString&, qsizetype, qsizetype) {
                    QCoreApplication::processEvents();
                };
            // The steps before the first new name yield as well, so a slow disk keeps
            // the window live while files are parked and the journal is written.
            const BatchBreather breathe = [] { QCoreApplication::processEvents(); };
            const BatchOutcome outcome = RunBatchRename(folder, plan, progress, breathe);
            message = outcome.started ? batchFailureMessage(outcome) : outcome.problem;
            processed = outcome.started;

            host.batchSetControlsEnabled(true);
            if (wasRunning)
                host.batchStartSlideshow();
            host.batchRefreshFiles();
            host.batchSelectFirstFile();
        }
    }
    // After the hourglass is gone, so the message box has the ordinary pointer.
    if (!message.isEmpty())
        host.batchShowMessage(batchMessageTitle(), message);
    return processed;
}

} // namespace tavlin
