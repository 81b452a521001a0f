#pragma once

#include <functional>
#include <optional>

#include <QString>

#include "fileops/rename.h"

class QWidget;

namespace tavlin {

// The texts the single rename shows.
namespace renametext {
QString prompt(const QString& oldName); // "Enter new filename for beach.JPG:"
QString inputTitle();                   // "Enter New Filename:"
QString takenTitle();                   // "File Already Exists!"
QString takenMessage(const QString& newName);
QString notAllowedTitle();
QString notAllowedMessage(const QString& answer);
QString notListedMessage(const QString& newName, const QString& pattern);
QString failedTitle();
QString failedMessage(const QString& oldName, const QString& newName, const RenameResult& why);
} // namespace renametext

// Asks for a line of text; std::nullopt when the user cancels.
using AskText = std::function<std::optional<QString>(const QString& prompt, const QString& title,
                                                     const QString& defaultText)>;
// Shows a warning with a single OK button.
using TellWarning = std::function<void(const QString& title, const QString& text)>;

struct SingleRenameOutcome {
    enum class Kind {
        NoSelection, // nothing selected: no question asked
        Cancelled,   // cancelled or answered empty
        Refused,     // the answer would leave the folder ("/", ".", "..")
        Renamed,     // the caller refreshes its file list
        Failed,      // the move failed; `result` says why
    };
    Kind kind = Kind::NoSelection;
    QString newName;
    RenameResult result;
};

// The new name for an answer: the answer followed by the old extension when the
// answer has none, otherwise the answer as typed.
QString SingleRenameTarget(const QString& oldName, const QString& answer);

// The names the caller's list shows, so a rename never moves a picture out of sight.
struct ListedNames {
    std::function<bool(const QString& name)> matches; // none: every name is listed
    QString pattern;                                  // as the message names it
};

// Asks for a new name of `oldName` (empty when no file is selected) in `folder`, renames
// it without replacing anything, and tells the user when that fails. A name that `listed`
// does not show is refused with a message, as the picture would leave the list.
SingleRenameOutcome RenameSingleFile(const QString& folder, const QString& oldName,
                                     const AskText& ask, const TellWarning& tell,
                                     const ListedNames& listed = {});

// `text` with a zero-width space after every 16 characters without a blank, so a long
// name can wrap in a label.
QString withBreakChances(const QString& text);

// A warning box with one OK button whose text wraps, long names included, so it stays
// within the screen.
void showWrappedWarning(QWidget* parent, const QString& title, const QString& text);

// The platform's input box and warning message box, owned by `parent`.
AskText inputBoxAsker(QWidget* parent);
TellWarning warningBoxTeller(QWidget* parent);

} // namespace tavlin
