#include "app/commandline.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include <QRegularExpression>

#include "platform/exists.h"
#include "platform/filenames.h"

namespace tavlin {

RunMode runModeOf(const QString& commandLine) {
    // Only the exact switches: on Linux every absolute path starts with "/", so
    // "/srv/photos" is a path, never the screensaver.
    static const QRegularExpression switches(
        QStringLiteral("^[/-](?:(s)|(c)(?::\\d+)?|(p)(?: \\d+)?)$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = switches.match(commandLine);
    if (!match.hasMatch())
        return RunMode::Viewer;
    if (match.capturedLength(1) > 0)
        return RunMode::Screensaver;
    if (match.capturedLength(2) > 0)
        return RunMode::Settings;
    return RunMode::Preview;
}

std::optional<std::uint64_t> parseWindowId(const QString& text) {
    bool ok = false;
    const QString t = text.trimmed();
    const std::uint64_t id = t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                                 ? t.mid(2).toULongLong(&ok, 16)
                                 : t.toULongLong(&ok, 10);
    // X window numbers are 29 bits; anything wider is not one.
    if (!ok || id == 0 || id > 0xFFFFFFFFu)
        return std::nullopt;
    return id;
}

namespace {

const QString kRoot = QStringLiteral("-root");
const QString kWindowId = QStringLiteral("-window-id");
const QString kFolder = QStringLiteral("-folder");
const QString kSeconds = QStringLiteral("-seconds");
const QString kShuffle = QStringLiteral("-shuffle");
const QString kSubfolders = QStringLiteral("-subfolders");

// The folder or picture the arguments name, or none. The arguments joined by single blanks
// come first, so a path with blanks typed without quotes arrives whole; failing that, a file
// manager's "Open with" on several files passes them one by one, and the first opens.
std::optional<QString> pathToOpen(const QStringList& arguments) {
    const QString line = arguments.join(QLatin1Char(' '));
    if (!line.isEmpty() && (FolderExists(line) || FileExists(line)))
        return line;
    if (arguments.size() > 1) {
        const QString& first = arguments.first();
        if (runModeOf(first) == RunMode::Viewer && (FolderExists(first) || FileExists(first)))
            return first;
    }
    return std::nullopt;
}

bool namesExistingPath(const QStringList& arguments) {
    return pathToOpen(arguments).has_value();
}

bool isDisplayRequest(const QStringList& arguments) {
    return arguments.contains(kRoot) || arguments.contains(kWindowId);
}

// The xscreensaver switches read into `request`; the problem in words when
// one is malformed.
QString readDisplaySwitches(const QStringList& args, const QString& xscreensaverWindow,
                            StartRequest& request) {
    bool root = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == kRoot) {
            root = true;
        } else if (arg == kWindowId) {
            const auto id = hasValue ? parseWindowId(args[i + 1]) : std::nullopt;
            if (!id)
                return QStringLiteral("-window-id needs a window number (decimal or 0x hex)");
            request.windowId = *id;
            ++i;
        } else if (arg == kFolder) {
            if (!hasValue)
                return QStringLiteral("-folder needs a folder");
            request.displayFolder = absoluteCleanPath(args[++i]);
        } else if (arg == kShuffle) {
            request.displayShuffle = true;
        } else if (arg == kSubfolders) {
            request.displaySubfolders = true;
        } else if (arg == kSeconds) {
            bool ok = false;
            const int seconds = hasValue ? args[i + 1].toInt(&ok) : 0;
            if (!ok || seconds < 1 || seconds > 30)
                return QStringLiteral("-seconds needs a whole number from 1 to 30");
            request.displaySeconds = seconds;
            ++i;
        }
        // Anything else a screensaver daemon adds is not ours to refuse.
    }
    if (root && request.windowId == 0 && !xscreensaverWindow.isEmpty()) {
        const auto id = parseWindowId(xscreensaverWindow);
        if (!id)
            return QStringLiteral("XSCREENSAVER_WINDOW is not a window number: ") +
                   xscreensaverWindow;
        request.windowId = *id;
    }
    return {};
}

QString programName() {
    return QStringLiteral("tavlin");
}

// One line on standard error and exit code 2, pointing at --help.
EarlyExit refusal(const QString& problem) {
    return EarlyExit{2,
                     {},
                     programName() + QStringLiteral(": ") + problem +
                         QStringLiteral(" (see tavlin --help)\n")};
}

// Why `path`, neither a folder nor a file the program can open, cannot be shown.
QString missingPathProblem(const QString& path) {
    const QString named = QStringLiteral("\u201c") + path + QStringLiteral("\u201d");
    struct stat st {};
    if (::stat(encodeFileName(path).constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return named + QStringLiteral(" does not exist");
        return named + QStringLiteral(" cannot be opened: ") +
               QString::fromLocal8Bit(std::strerror(errno));
    }
    return named + QStringLiteral(" is neither a folder nor a picture file");
}

} // namespace

StartRequest parseCommandLine(const QStringList& arguments, const QString& xscreensaverWindow) {
    StartRequest request;
    request.commandLine = arguments.join(QLatin1Char(' '));
    if (const std::optional<QString> path = pathToOpen(arguments)) {
        request.commandLine = *path;
        if (FolderExists(*path)) {
            request.folder = absoluteCleanPath(*path);
            return request;
        }
        if (FileExists(*path)) {
            const QString file = absoluteCleanPath(*path);
            const qsizetype slash = file.lastIndexOf(QLatin1Char('/'));
            request.folder = slash == 0 ? QStringLiteral("/") : file.left(slash);
            request.picture = file.mid(slash + 1);
            return request;
        }
    }
    if (isDisplayRequest(arguments)) {
        request.mode = RunMode::Display;
        readDisplaySwitches(arguments, xscreensaverWindow, request);
        return request;
    }
    request.mode = runModeOf(request.commandLine);
    return request;
}

QString usageText() {
    return QStringLiteral(
        "Usage: tavlin [FOLDER | PICTURE]\n"
        "       tavlin /s | /c | /p\n"
        "       tavlin -root | -window-id ID [-folder FOLDER] [-seconds N] [-shuffle]\n"
        "                   [-subfolders]\n"
        "\n"
        "A full-screen picture viewer that doubles as a screensaver.\n"
        "\n"
        "  FOLDER           open the viewer on this folder\n"
        "  PICTURE          open the viewer on the picture's folder, showing it; of several\n"
        "                   pictures, the first\n"
        "  /s, -s           run the screensaver: random pictures until the mouse moves\n"
        "  /c, -c           the screensaver settings: folder, seconds, information lines\n"
        "  /p, -p           the screensaver preview: ends at once\n"
        "  -root            draw the screensaver for xscreensaver into the window named by\n"
        "                   XSCREENSAVER_WINDOW, or over the whole screen without it\n"
        "  -window-id ID    draw the screensaver into the X window ID (decimal or 0x hex)\n"
        "  -folder FOLDER   with -root or -window-id: show this folder instead of the saved one\n"
        "  -seconds N       with -root or -window-id: N seconds (1 to 30) per picture\n"
        "  -shuffle         with -root or -window-id: every picture once before any comes back\n"
        "  -subfolders      with -root or -window-id: the pictures of the folder's whole tree\n"
        "  -h, --help       show this help and exit\n"
        "  --version        show the version and exit\n"
        "\n"
        "Keys in the viewer:\n"
        "  Down, Right, Space     next picture\n"
        "  Up, Left, BackSpace    previous picture (settings panel hidden)\n"
        "  Home, End              first, last picture\n"
        "  Page Down, Page Up     20 pictures on, back (settings panel hidden)\n"
        "  Delete                 move the picture file to the Trash\n"
        "  Shift+Delete           delete the picture file for good\n"
        "  Ctrl+P, Ctrl+F1        print the picture\n"
        "  Escape                 quit\n"
        "  F1 help   F2 rename   F3 batch rename   F4, F5 start, stop the slideshow\n"
        "  F9, F11 show or hide the settings panel   F12 about\n"
        "A right click opens the menu; a double click shows or hides the settings panel.\n"
        "\n"
        "Settings are kept in $XDG_CONFIG_HOME/tavlin/registry/ (~/.config/tavlin/registry/).\n");
}

std::optional<EarlyExit> earlyExitFor(const QStringList& arguments,
                                      const QString& xscreensaverWindow) {
    if (namesExistingPath(arguments))
        return std::nullopt;
    for (const QString& arg : arguments) {
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            return EarlyExit{0, usageText(), {}};
        if (arg == QLatin1String("--version"))
            return EarlyExit{0, QStringLiteral("Tavlin " TAVLIN_VERSION "\n"), {}};
    }
    for (const QString& arg : arguments) {
        if (arg.startsWith(QLatin1String("--")))
            return refusal(QStringLiteral("unknown option '") + arg + QLatin1Char('\''));
    }
    if (isDisplayRequest(arguments)) {
        StartRequest request;
        const QString problem = readDisplaySwitches(arguments, xscreensaverWindow, request);
        if (!problem.isEmpty())
            return refusal(problem);
        return std::nullopt;
    }
    const QString line = arguments.join(QLatin1Char(' '));
    if (line.isEmpty() || runModeOf(line) != RunMode::Viewer)
        return std::nullopt;
    // Neither a run-mode switch nor an existing folder or picture.
    if (line.startsWith(QLatin1Char('-')))
        return refusal(QStringLiteral("unknown option '") + arguments.first() + QLatin1Char('\''));
    return refusal(missingPathProblem(line));
}

} // namespace tavlin
