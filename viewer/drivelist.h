#pragma once

#include <QComboBox>

namespace tavlin {

// The drive list: the mounted volumes that hold real file systems, by root path.
class DriveList : public QComboBox {
    Q_OBJECT
public:
    explicit DriveList(QWidget* parent = nullptr);

    // Re-reads the mounted volumes, keeping the current drive.
    void refreshVolumes();
    QString drive() const { return m_drive; }
    // Selects the volume holding `path` (the one with the longest root prefix);
    // the change handler runs only when the drive really changes.
    void setDrive(const QString& path);
    // Puts the previous drive back without running the handler (a volume that
    // was not ready).
    void revertTo(const QString& drive);

    static QStringList volumeRoots();
    static QString driveOf(const QString& path, const QStringList& roots);

Q_SIGNALS:
    void driveChanged();
    void keyDown(QKeyEvent* event);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showPopup() override;

private:
    void select(const QString& root, bool notify);

    QString m_drive;
};

} // namespace tavlin
