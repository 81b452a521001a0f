// The slideshow's controls, and the screensaver's walk of a folder tree.
#include <utility>

#include <QAction>
#include <QCheckBox>
#include <QPushButton>

#include "decode/prefetchplan.h"
#include "platform/platform.h"
#include "viewer/filelist.h"
#include "viewer/frmmenus.h"
#include "viewer/keymap.h"
#include "viewer/picturetree.h"
#include "viewer/slideshow.h"
#include "viewer/tavlin.h"

namespace tavlin {

void Tavlin::startSlideshow() {
    Menus().mStartSlideshow->setEnabled(false);
    Menus().mStopSlideshow->setEnabled(true);
    m_slideshow->start();
    btnStartSlideshow->setText(QStringLiteral("&Stop"));
    // Drawn for a screensaver daemon, the screen is meant to blank afterwards.
    if (m_runMode != RunMode::Display)
        m_platform->keepScreenAwake(true);
}

void Tavlin::stopSlideshow() {
    Menus().mStartSlideshow->setEnabled(true);
    Menus().mStopSlideshow->setEnabled(false);
    m_slideshow->stop();
    btnStartSlideshow->setText(QStringLiteral("&Start"));
    m_platform->keepScreenAwake(false);
}

void Tavlin::btnStartSlideshow_Click() {
    if (!m_slideshow->isRunning())
        startSlideshow();
    else
        stopSlideshow();
}

bool Tavlin::shufflesPictures() const {
    return m_slideshow->shuffles();
}

void Tavlin::connectSlideshow() {
    m_slideshow = new Slideshow(m_options.random, this);
    connect(m_slideshow, &Slideshow::due, this, [this] {
        if (chkPlaySound->isChecked())
            m_platform->playSlideSound();
        m_slideshow->advance(myFiles->selectedIndex(), myFiles->count());
    });
    connect(m_slideshow, &Slideshow::goTo, myFiles, &FileList::setSelectedIndex);
    connect(m_slideshow, &Slideshow::ended, this, &Tavlin::stopSlideshow);
    // A pick of the picture already on show changes nothing on screen; draw the one after it
    // all the same.
    connect(m_slideshow, &Slideshow::earlyPickTaken, this, [this] {
        if (!pictureRequestPending())
            prefetchLikelyNext();
    }, Qt::QueuedConnection);
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
            myFiles->setSelectedIndex(m_slideshow->pick(myFiles->count()));
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
