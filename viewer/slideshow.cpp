// The timed slideshow.
#include <cmath>
#include <utility>

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include "decode/prefetchplan.h"
#include "platform/platform.h"
#include "viewer/filelist.h"
#include "viewer/frmmenus.h"
#include "viewer/keymap.h"
#include "viewer/picturetree.h"
#include "viewer/tavlin.h"

namespace tavlin {

void Tavlin::startSlideshow() {
    Menus().mStartSlideshow->setEnabled(false);
    Menus().mStopSlideshow->setEnabled(true);
    myTimer->setInterval(scrSeconds->value() * 1000);
    myTimer->start();
    btnStartSlideshow->setText(QStringLiteral("&Stop"));
    // Drawn for a screensaver daemon, the screen is meant to blank afterwards.
    if (m_runMode != RunMode::Display)
        m_platform->keepScreenAwake(true);
}

void Tavlin::stopSlideshow() {
    Menus().mStartSlideshow->setEnabled(true);
    Menus().mStopSlideshow->setEnabled(false);
    myTimer->stop();
    btnStartSlideshow->setText(QStringLiteral("&Start"));
    m_platform->keepScreenAwake(false);
}

void Tavlin::btnStartSlideshow_Click() {
    if (!myTimer->isActive())
        startSlideshow();
    else
        stopSlideshow();
}

void Tavlin::myTimer_Timer() {
    if (chkPlaySound->isChecked())
        m_platform->playSlideSound();
    if (bScreensaverMode) {
        if (myFiles->count() > 0)
            myFiles->setSelectedIndex(randomIndex(myFiles->count()));
        return;
    }
    Form_KeyDown(vk::Down, 0);
}

void Tavlin::scrSeconds_Change() {
    if (scrSeconds->value() == 0) {
        scrSeconds->setValue(1); // runs this handler again with 1
        return;
    }
    // Unchanged text stays as it is, so typing in the box keeps its cursor.
    if (const QString text = QString::number(scrSeconds->value()); txtSeconds->text() != text)
        txtSeconds->setText(text);
    // QTimer restarts a running timer on a new interval: counted from the change.
    myTimer->setInterval(scrSeconds->value() * 1000);
}

void Tavlin::readPictureTree() {
    const QString root = myFiles->folder();
    const NamePattern pattern = myFiles->namePattern();
    // The list follows the walk twice: once the first pictures are found, so the screensaver
    // starts at once even on a folder that holds only subfolders, and once at the end.
    auto deliver = [this, root](QStringList names) {
        // The same list again (the tree's pictures were all in its first folder) changes nothing.
        if (m_exited || myFiles->folder() != root || names == myFiles->names())
            return;
        // The picture on show stays selected, so its number counts in the new list.
        const QString shown = myFiles->selectedName();
        myFiles->setListing(root, std::move(names));
        const qsizetype at = shown.isEmpty() ? -1 : myFiles->names().indexOf(shown);
        if (at >= 0)
            myFiles->setSelectedIndex(at);
        else if (myFiles->count() > 0)
            myFiles->setSelectedIndex(randomIndex(myFiles->count()));
    };
    m_treeReader.start([this, root, pattern, deliver] {
        bool first = true;
        const QStringList all = listPictureTree(
            root, pattern,
            [&](const QStringList& soFar) {
                if (!std::exchange(first, false))
                    return;
                QMetaObject::invokeMethod(
                    this, [deliver, soFar] { deliver(soFar); }, Qt::QueuedConnection);
            },
            &m_treeStop);
        if (!m_treeStop.load())
            QMetaObject::invokeMethod(
                this, [deliver, all] { deliver(all); }, Qt::QueuedConnection);
    });
}

} // namespace tavlin
