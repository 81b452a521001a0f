#pragma once

#include <QWidget>

class QLabel;

namespace tavlin {

// The program's legal-copyright string, compiled in.
inline constexpr char kTavlinCopyright[] = "© 2024 Tavlin developers";
// The About window's contact line.
inline constexpr char kTavlinContactLine[] = "F1: Help";

// "Version " and the major, minor and revision numbers of a dotted version, each in plain
// decimal ("2.00.0109" gives "Version 2.0.109").
QString VersionLine(const QString& version);

// The About window: the banner, the version and copyright lines and a contact line. Modeless
// and without an owner; any click closes it, and closing frees it.
class frmAbout : public QWidget {
    Q_OBJECT
public:
    // Opens the About window centred on `owner` (on the screen when there is none), or brings
    // the one already open forward. The window is not a child of `owner`.
    static frmAbout* showAbout(QWidget* owner);
    // The window that is open now, if any.
    static frmAbout* openWindow();

    QLabel* Image2 = nullptr;
    QLabel* txtVersion = nullptr;
    QLabel* txtCopyright = nullptr;
    QLabel* Label1 = nullptr;

    // Handlers.
    void Form_Load();
    void Form_Click();
    void Image2_Click();
    void Label1_Click();
    void txtCopyright_Click();
    void txtVersion_Click();
    void Form_Unload();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit frmAbout(double twipsPerPixel);
    QLabel* makeLine(int left, int top);

    double m_tpp;
};

} // namespace tavlin
