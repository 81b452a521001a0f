#pragma once

#include <functional>

#include <QDialog>
#include <QElapsedTimer>

#include "fileops/batchrename.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace tavlin {

// The batch-rename dialog: asks for a prefix, then shows the batch running (old name, new
// name, progress bar). Hands the prefix to its owner through prefixAccepted; hidden, not
// destroyed, between uses.
class frmGetPrefix : public QDialog {
    Q_OBJECT
public:
    // twipsPerPixel 0 takes it from the screen's logical DPI.
    explicit frmGetPrefix(QWidget* owner = nullptr, double twipsPerPixel = 0);

    // Prompt state: prefix box emptied and focused, buttons shown, file labels hidden.
    void Form_Activate();
    // Starts the batch when a prefix was typed (prefixAccepted runs it), then hides.
    void btnOk_Click();
    void btnCancel_Click();

    // True while prefixAccepted runs; the dialog cannot be closed or reset meanwhile.
    bool isRenaming() const { return m_renaming; }

    // One step of the batch: old and new name and the progress bar. Yields to the event
    // loop on every call and repaints at most once a frame, so a large batch is not slowed
    // down by drawing.
    void showProgress(const QString& oldName, const QString& newName, qsizetype index,
                      qsizetype count);
    BatchProgress progressReporter();
    // Shows the message that refuses a prefix; a warning box unless replaced.
    void setWarningTeller(std::function<void(const QString& title, const QString& text)> tell) {
        m_tell = std::move(tell);
    }

    QLabel* txtText = nullptr;
    QLineEdit* txtPrefix = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
    QLabel* txtFile1 = nullptr;
    QLabel* txtFile2 = nullptr;
    QProgressBar* myProgress = nullptr;

Q_SIGNALS:
    // Raised once per accepted prefix; the batch runs inside the connected slot, which
    // must be a direct connection since the prefix travels by reference.
    void prefixAccepted(QString& svPrefix);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

public Q_SLOTS:
    void reject() override;

private:
    void place(QWidget* widget, double left, double top, double width, double height);
    void setClientHeight(double twips);
    // Sizes a label to its whole text, trailing blanks included.
    void fitLabel(QLabel* label);
    void showElided(QLabel* label, const QString& text, int width);
    // Places the prefix box and buttons right of the prompt, widening the window if needed.
    void fitPromptRow();
    int px(double twips) const;

    double m_tpp;
    bool m_renaming = false;
    int m_clientWidth = 0;
    std::function<void(const QString&, const QString&)> m_tell;
    QElapsedTimer m_lastPaint;
};

} // namespace tavlin
