#include "fileops/renamesingle.h"

#include <QDir>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>

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
                                     const AskText& ask, const TellWarning& tell) {
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

AskText inputBoxAsker(QWidget* parent) {
    QPointer<QWidget> owner(parent);
    return [owner](const QString& prompt, const QString& title,
                   const QString& defaultText) -> std::optional<QString> {
        bool ok = false;
        const QString text =
            QInputDialog::getText(owner, title, prompt, QLineEdit::Normal, defaultText, &ok);
        if (!ok)
            return std::nullopt;
        return text;
    };
}

TellWarning warningBoxTeller(QWidget* parent) {
    QPointer<QWidget> owner(parent);
    return [owner](const QString& title, const QString& text) {
        QMessageBox::warning(owner, title, text, QMessageBox::Ok);
    };
}

} // namespace tavlin
