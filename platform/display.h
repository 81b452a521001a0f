#pragma once

#include <cstdint>
#include <memory>

#include <QObject>
#include <QSize>
#include <QString>

namespace tavlin {

// Why the window system cannot be reached, in one line, or empty when it can
// (or when Qt picks a platform that needs no display server, such as offscreen).
// Asked before the application object exists, since Qt aborts without a display.
QString displayProblem();

// An X window that another program owns, such as the window xscreensaver hands
// us to draw in: its size, and word when it changes size or goes away.
class ForeignWindow : public QObject {
    Q_OBJECT
public:
    ~ForeignWindow() override;

    // Null, with the reason in `error`, when no such window exists.
    static std::unique_ptr<ForeignWindow> open(std::uint64_t id, QString* error);

    std::uint64_t id() const { return m_id; }
    // In device pixels, as the window system reports it.
    QSize size() const { return m_size; }

Q_SIGNALS:
    void resized(QSize size);
    void gone();

private:
    ForeignWindow() = default;
    void readEvents();

    struct Connection;
    std::unique_ptr<Connection> m_connection;
    std::uint64_t m_id = 0;
    QSize m_size;
    bool m_gone = false;
};

} // namespace tavlin
