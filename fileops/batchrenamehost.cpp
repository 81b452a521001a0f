#include "fileops/batchrenamehost.h"

#include <algorithm>

#include <QCoreApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>

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

// The width a message wraps at, as a message box lays itself out.
int messageWrapWidth() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int screenWidth = screen ? screen->availableGeometry().width() : 1024;
    return std::max(200, std::min(500, screenWidth / 2));
}

// The lines of names a message may hold and still fit on the screen with its title,
// text and button.
int messageLineBudget() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int height = screen ? screen->availableGeometry().height() : 768;
    return std::max(3, height * 2 / 3 / QFontMetrics(QGuiApplication::font()).lineSpacing() - 4);
}

} // namespace

QString batchMessageTitle() {
    return QStringLiteral("Batch Rename");
}

QString batchFailureMessage(const BatchOutcome& outcome, int maxLines,
                            const std::function<int(const QString&)>& linesOf) {
    if (outcome.failures.empty())
        return {};
    const size_t n = outcome.failures.size();
    QString text = n == 1 ? QStringLiteral("1 file could not be renamed:")
                          : QStringLiteral("%1 files could not be renamed:").arg(n);
    size_t listed = 0;
    int lines = 0;
    for (; listed < n; ++listed) {
        const BatchFailure& f = outcome.failures[listed];
        const QString entry =
            QStringLiteral("%1 (not %2: %3)").arg(f.keptName, f.newName, f.result.describe());
        lines += linesOf ? std::max(1, linesOf(entry)) : 1;
        // The last line is kept for the count of the rest.
        if (listed > 0 && lines > maxLines - (listed + 1 < n ? 1 : 0))
            break;
        text += QLatin1Char('\n') + entry;
    }
    if (listed < n)
        text += QStringLiteral("\n\u2026 and %1 more").arg(n - listed);
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
            const QFontMetrics metrics(QGuiApplication::font());
            const int wrap = messageWrapWidth();
            message =
                outcome.started
                    ? batchFailureMessage(outcome, messageLineBudget(),
                                          [&](const QString& entry) {
                                              return metrics.horizontalAdvance(entry) / wrap + 1;
                                          })
                    : outcome.problem;
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
