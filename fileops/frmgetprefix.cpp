#include "fileops/frmgetprefix.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "fileops/batchrenamehost.h"
#include "fileops/renamesingle.h"

namespace tavlin {

namespace {

constexpr double kClientWidth = 8865;
// The design's window heights (945 twips, then half as high again) include a tool
// window's caption and borders, about 330 twips; Qt sizes the client area.
constexpr double kPromptClientHeight = 615;
constexpr double kProgressClientHeight = 1095;
// Repaint the running batch at most once per frame of a 60 Hz screen.
constexpr qint64 kRepaintMs = 16;

QFont boldFont(const QFont& base) {
    QFont f(base);
    f.setPointSize(12);
    f.setBold(true);
    return f;
}

bool isEnter(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

frmGetPrefix::frmGetPrefix(QWidget* owner, double twipsPerPixel)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    if (twipsPerPixel <= 0) {
        const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
        const double dpi = screen ? screen->logicalDotsPerInch() : 96.0;
        twipsPerPixel = 1440.0 / (dpi > 0 ? dpi : 96.0);
    }
    m_tpp = twipsPerPixel;
    m_tell = warningBoxTeller(this);
    setWindowTitle(QStringLiteral("Enter Prefix:"));
    setModal(true);

    txtText = new QLabel(QStringLiteral("Renaming:"), this);
    txtPrefix = new QLineEdit(this);
    btnOk = new QPushButton(QStringLiteral("&OK"), this);
    btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    txtFile1 = new QLabel(QStringLiteral("txtFile1"), this);
    txtFile2 = new QLabel(QStringLiteral("txtFile2"), this);
    myProgress = new QProgressBar(this);
    myProgress->setTextVisible(false);

    for (QLabel* label : {txtText, txtFile1, txtFile2}) {
        label->setFont(boldFont(font()));
        label->setAttribute(Qt::WA_TranslucentBackground);
        label->setAutoFillBackground(false);
    }
    QFont boxFont(font());
    boxFont.setPointSize(12);
    txtPrefix->setFont(boxFont);
    // Enter and Escape act when released in the prefix box, never through a default button.
    for (QPushButton* button : {btnOk, btnCancel}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    place(txtText, 120, 165, 1305, 300);
    place(txtPrefix, 3600, 105, 2775, 420);
    place(btnOk, 6480, 128, 1095, 375);
    place(btnCancel, 7680, 128, 1095, 375);
    place(txtFile1, 1560, 165, 900, 300);
    place(txtFile2, 5640, 165, 900, 300);
    place(myProgress, 240, 645, 8415, 375);
    setTabOrder(txtPrefix, btnOk);
    setTabOrder(btnOk, btnCancel);

    txtPrefix->installEventFilter(this);
    connect(btnOk, &QPushButton::clicked, this, [this] { btnOk_Click(); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancel_Click(); });
    setClientHeight(kPromptClientHeight);
}

void frmGetPrefix::Form_Activate() {
    if (m_renaming)
        return;
    setWindowTitle(QStringLiteral("Enter Renaming Prefix:"));
    setClientHeight(kPromptClientHeight);
    txtPrefix->clear();
    txtPrefix->show();
    txtFile1->hide();
    txtFile2->hide();
    txtText->setText(QStringLiteral("Enter batch renaming prefix:"));
    fitPromptRow();
    btnOk->show();
    btnCancel->show();
    txtPrefix->setFocus(Qt::OtherFocusReason);
}

void frmGetPrefix::btnOk_Click() {
    if (m_renaming)
        return;
    if (const QString problem = BatchPrefixProblem(txtPrefix->text()); !problem.isEmpty()) {
        // Refused while the prompt still shows, so the prefix can be mended at once.
        m_tell(batchMessageTitle(), problem);
        txtPrefix->selectAll();
        txtPrefix->setFocus(Qt::OtherFocusReason);
        return;
    }
    setWindowTitle(QStringLiteral("Renaming Files:"));
    if (!txtPrefix->text().isEmpty()) {
        txtPrefix->hide();
        btnOk->hide();
        btnCancel->hide();
        txtText->setText(QStringLiteral("Renaming:  "));
        fitLabel(txtText);
        // The old name starts after the two blanks, however wide the font draws the word.
        txtFile1->move(std::max(px(1560), txtText->x() + txtText->width()), txtFile1->y());
        txtFile1->clear();
        txtFile2->clear();
        txtFile1->show();
        txtFile2->show();
        setClientHeight(kProgressClientHeight);
        // A range of one value shows nothing on some styles, so the bar counts from 0.
        myProgress->setRange(0, 1);
        myProgress->setValue(0);
        m_lastPaint.invalidate();
        QString prefix = txtPrefix->text();
        m_renaming = true;
        Q_EMIT prefixAccepted(prefix);
        m_renaming = false;
    }
    hide();
}

void frmGetPrefix::btnCancel_Click() {
    if (!m_renaming)
        hide();
}

void frmGetPrefix::showProgress(const QString& oldName, const QString& newName, qsizetype index,
                                qsizetype count) {
    const bool due = !m_lastPaint.isValid() || m_lastPaint.hasExpired(kRepaintMs);
    if (due || index == count) {
        // QProgressBar holds an int; a larger batch is scaled onto its range.
        const double scale = count > INT_MAX ? double(INT_MAX) / double(count) : 1.0;
        myProgress->setMaximum(int(std::floor(double(count) * scale)));
        myProgress->setValue(int(std::floor(double(index) * scale)));
        // A long old name is shortened in the middle rather than printed over the new one,
        // and the new one rather than cut by the window's edge.
        const int gap = px(120);
        showElided(txtFile1, oldName, txtFile2->x() - gap - txtFile1->x());
        showElided(txtFile2, newName, width() - gap - txtFile2->x());
        m_lastPaint.start();
    }
    QCoreApplication::processEvents();
}

BatchProgress frmGetPrefix::progressReporter() {
    return [this](const QString& oldName, const QString& newName, qsizetype index,
                  qsizetype count) { showProgress(oldName, newName, index, count); };
}

void frmGetPrefix::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Form_Activate();
}

void frmGetPrefix::keyPressEvent(QKeyEvent* event) {
    // Enter on a focused button presses that button, as Space does.
    if (isEnter(event->key()) && !event->isAutoRepeat()) {
        for (QPushButton* button : {btnOk, btnCancel}) {
            if (focusWidget() == button && button->isVisible()) {
                event->accept();
                button->click();
                return;
            }
        }
    }
    // QDialog would close on Escape and click a default button on Enter at the press.
    if (event->key() == Qt::Key_Escape || isEnter(event->key())) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool frmGetPrefix::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtPrefix && event->type() == QEvent::KeyRelease) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!key->isAutoRepeat() && isEnter(key->key())) {
            btnOk_Click();
            return true;
        }
        if (!key->isAutoRepeat() && key->key() == Qt::Key_Escape) {
            btnCancel_Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmGetPrefix::closeEvent(QCloseEvent* event) {
    if (m_renaming)
        event->ignore();
    else
        QDialog::closeEvent(event);
}

void frmGetPrefix::reject() {
    if (!m_renaming)
        QDialog::reject();
}

void frmGetPrefix::fitLabel(QLabel* label) {
    // horizontalAdvance counts trailing blanks, which a label's size hint leaves out.
    const QFontMetrics metrics(label->font());
    label->resize(metrics.horizontalAdvance(label->text()) + 2,
                  std::max(label->height(), metrics.height()));
}

void frmGetPrefix::showElided(QLabel* label, const QString& text, int width) {
    const QFontMetrics metrics(label->font());
    label->setText(metrics.elidedText(text, Qt::ElideMiddle, std::max(width, 0)));
    label->setToolTip(text);
    fitLabel(label);
}

void frmGetPrefix::fitPromptRow() {
    fitLabel(txtText);
    // The prefix box and the buttons move right as far as the prompt needs, and the
    // window widens with them.
    const int shift = std::max(0, txtText->x() + txtText->width() + px(120) - px(3600));
    place(txtPrefix, 3600, 105, 2775, 420);
    place(btnOk, 6480, 128, 1095, 375);
    place(btnCancel, 7680, 128, 1095, 375);
    int right = 0;
    for (QWidget* widget : std::initializer_list<QWidget*>{txtPrefix, btnOk, btnCancel}) {
        widget->move(widget->x() + shift, widget->y());
        // A button as wide as its caption needs, should the font be larger than designed.
        if (widget != txtPrefix)
            widget->resize(std::max(widget->width(), widget->sizeHint().width()), widget->height());
        right = std::max(right, widget->x() + widget->width());
    }
    const int buttonGap = btnCancel->x() - (btnOk->x() + btnOk->width());
    if (buttonGap < px(105)) {
        btnCancel->move(btnOk->x() + btnOk->width() + px(105), btnCancel->y());
        right = btnCancel->x() + btnCancel->width();
    }
    m_clientWidth = std::max(px(kClientWidth), right + px(90));
    myProgress->resize(m_clientWidth - 2 * px(240), myProgress->height());
    setFixedSize(m_clientWidth, height());
}

void frmGetPrefix::place(QWidget* widget, double left, double top, double width, double height) {
    widget->setGeometry(px(left), px(top), px(width), px(height));
}

void frmGetPrefix::setClientHeight(double twips) {
    setFixedSize(std::max(m_clientWidth, px(kClientWidth)), px(twips));
}

int frmGetPrefix::px(double twips) const {
    return int(std::lround(twips / m_tpp));
}

} // namespace tavlin
