#include "fileops/renamesingle.h"

#include <QDir>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>

namespace tavlin {

namespace renametext {

QString prompt(const QString& oldName) {
    return QStringLiteral("Enter new filename for ") + oldName + QLatin1Char(':');
}
QString inputTitle() {
    return QStringLiteral("Enter New Filename:");
}
QString takenTitle() {
    return QStringLiteral("File Already Exists!");
}
QString takenMessage(const QString& newName) {
    return QStringLiteral("A file with the name ") + newName + QStringLiteral(" already exists!");
}
QString notAllowedTitle() {
    return QStringLiteral("Name Not Allowed");
}
QString notAllowedMessage(const QString& answer) {
    return QStringLiteral("The name ") + answer +
           QStringLiteral(" is not allowed: a file name cannot hold \"/\", and a name that "
                          "starts with \".\" is hidden.");
}
QString notListedMessage(const QString& newName, const QString& pattern) {
    return QStringLiteral("The name ") + newName +
           QStringLiteral(" is not allowed: the list shows only pictures (") + pattern +
           QStringLiteral("), so the picture would leave it.");
}
QString failedTitle() {
    return QStringLiteral("Rename Failed");
}
QString failedMessage(const QString& oldName, const QString& newName, const RenameResult& why) {
    return QStringLiteral("%1 could not be renamed to %2: %3.")
        .arg(oldName, newName, why.describe());
}

} // namespace renametext

namespace {

// The platform separator as well as "/", so a Windows build refuses "\" too. A leading
// dot ("." and ".." among them) hides the file from every list.
bool leavesFolder(const QString& name) {
    return !IsPlainFileName(name) || name.contains(QDir::separator()) ||
           name.startsWith(QLatin1Char('.'));
}

} // namespace

QString SingleRenameTarget(const QString& oldName, const QString& answer) {
    return GetExtension(answer).isEmpty() ? answer + GetExtension(oldName) : answer;
}

SingleRenameOutcome RenameSingleFile(const QString& folder, const QString& oldName,
                                     const AskText& ask, const TellWarning& tell,
                                     const ListedNames& listed) {
    using Kind = SingleRenameOutcome::Kind;
    SingleRenameOutcome outcome;
    if (oldName.isEmpty())
        return outcome;

    const std::optional<QString> answer =
        ask(renametext::prompt(oldName), renametext::inputTitle(), QString());
    if (!answer || answer->isEmpty()) {
        outcome.kind = Kind::Cancelled;
        return outcome;
    }

    outcome.newName = SingleRenameTarget(oldName, *answer);
    if (leavesFolder(*answer) || leavesFolder(outcome.newName)) {
        outcome.kind = Kind::Refused;
        outcome.result = {RenameStatus::NameNotAllowed, EINVAL};
        tell(renametext::notAllowedTitle(), renametext::notAllowedMessage(*answer));
        return outcome;
    }
    if (listed.matches && !listed.matches(outcome.newName)) {
        outcome.kind = Kind::Refused;
        outcome.result = {RenameStatus::NameNotAllowed, EINVAL};
        tell(renametext::notAllowedTitle(),
             renametext::notListedMessage(outcome.newName, listed.pattern));
        return outcome;
    }

    outcome.result = RenameFile(folder, oldName, outcome.newName);
    if (outcome.result) {
        outcome.kind = Kind::Renamed;
        return outcome;
    }
    outcome.kind = Kind::Failed;
    if (outcome.result.status == RenameStatus::NameTaken)
        tell(renametext::takenTitle(), renametext::takenMessage(outcome.newName));
    else
        tell(renametext::failedTitle(),
             renametext::failedMessage(oldName, outcome.newName, outcome.result));
    return outcome;
}

QString withBreakChances(const QString& text) {
    QString out;
    out.reserve(text.size() + text.size() / 16);
    int run = 0;
    for (const QChar c : text) {
        out += c;
        run = c.isSpace() ? 0 : run + 1;
        if (run >= 16 && !c.isHighSurrogate()) {
            out += QChar(0x200B); // zero-width space: invisible, but a line may break there
            run = 0;
        }
    }
    return out;
}

AskText inputBoxAsker(QWidget* parent) {
    QPointer<QWidget> owner(parent);
    return [owner](const QString& prompt, const QString& title,
                   const QString& defaultText) -> std::optional<QString> {
        QInputDialog dialog(owner);
        dialog.setWindowTitle(title);
        dialog.setInputMode(QInputDialog::TextInput);
        dialog.setTextValue(defaultText);
        // A long file name in the prompt wraps instead of pushing the buttons off the screen.
        dialog.setLabelText(withBreakChances(prompt));
        if (auto* label = dialog.findChild<QLabel*>())
            label->setWordWrap(true);
        if (const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen())
            dialog.setMaximumWidth(screen->availableGeometry().width());
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.textValue();
    };
}

void showWrappedWarning(QWidget* parent, const QString& title, const QString& text) {
    // Plain text never wraps in a message box; as rich text it wraps to the box's width,
    // and a zero-width space every few characters lets a long name break too.
    QString html;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (!html.isEmpty())
            html += QStringLiteral("<br>");
        html += withBreakChances(line).toHtmlEscaped();
    }
    QMessageBox box(QMessageBox::Warning, title, html, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::RichText);
    box.exec();
}

TellWarning warningBoxTeller(QWidget* parent) {
    QPointer<QWidget> owner(parent);
    return [owner](const QString& title, const QString& text) {
        showWrappedWarning(owner, title, text);
    };
}

} // namespace tavlin
