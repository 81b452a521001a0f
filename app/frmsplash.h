#pragma once

#include <QDialog>

class QLabel;
class QTimer;

namespace tavlin {

// The start-up splash: the program's picture for two ticks of a one-second timer.
class frmSplash : public QDialog {
    Q_OBJECT
public:
    explicit frmSplash(QWidget* owner);

    // Shows the splash modally; returns when it has closed itself.
    static void ShowMe(QWidget* owner);

    QLabel* Picture1 = nullptr;
    QTimer* myTimer = nullptr;
    int iTickCount = 0;

private:
    void myTimer_Timer();
};

} // namespace tavlin
