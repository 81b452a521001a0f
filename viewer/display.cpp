// Showing one picture with its information lines.
#include <algorithm>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>

#include "platform/platform.h"
#include "viewer/filelist.h"
#include "viewer/folderlist.h"
#include "viewer/imageview.h"
#include "viewer/pictureloader.h"
#include "viewer/tavlin.h"

namespace tavlin {

void Tavlin::DisplayPict(ImageView* objImage, const QString& svPicture) {
    imgError->hide();
    if (!isEnabled())
        return;

    const QSizeF screen = screenTwips();
    const DisplayOptions options{chkStretch->isChecked(), chkCenter->isChecked(),
                                 !frameSettings->isHidden(), m_layout.frameSettings.width};
    QRect placed;
    double scale = 1; // decoded pixels per logical pixel
    // The picture's size is known only once its header is read; the loader then
    // decodes just the part of the laid-out picture that lies on the screen.
    const DecodePlanner planner = [&](QSize orientedSize) {
        const DisplayGeometry g =
            computeDisplayGeometry(orientedSize, screen.width(), screen.height(), m_tpp, options);
        placed = QRect(px(g.picture.left), px(g.picture.top), std::max(1, px(g.picture.width)),
                       std::max(1, px(g.picture.height)));
        // On a high-density screen decode up to one pixel per device pixel, but
        // never more pixels than the picture has.
        scale = std::clamp(double(orientedSize.width()) / placed.width(), 1.0,
                           std::max(1.0, m_devicePixelRatio));
        const QRect onScreen =
            placed.intersected(QRect(QPoint(0, 0), m_screen)).translated(-placed.topLeft());
        const QSize decoded(std::max(1, qRound(placed.width() * scale)),
                            std::max(1, qRound(placed.height() * scale)));
        const QRect visible =
            QRectF(onScreen.topLeft() * scale, onScreen.size() * scale).toAlignedRect();
        return DecodeRequest{decoded, visible.intersected(QRect(QPoint(0, 0), decoded))};
    };
    const LoadedPicture picture = loadPicture(svPicture, planner);
    if (!picture.ok || picture.image.isNull()) {
        myPicture->hide();
        imgError->show();
        m_platform->beep();
        return;
    }

    txtFile->setText(svPicture);
    txtPicture->setText(pictureNumberText(myFiles->selectedIndex(), myFiles->count()));
    txtWidth->setText(widthText(picture.size.width()));
    txtHeight->setText(heightText(picture.size.height()));
    txtFileSize->setText(fileSizeText(picture.fileSize));
    for (QLabel* label : {txtFile, txtPicture, txtWidth, txtHeight, txtFileSize})
        label->adjustSize();

    m_shownPicture = svPicture;
    objImage->hide();
    objImage->setGeometry(placed);
    QImage image = picture.image;
    image.setDevicePixelRatio(scale);
    const QRectF r = picture.imageRect;
    objImage->setPicture(std::move(image), QRectF(r.topLeft() / scale, r.size() / scale));
    objImage->show();
}

QString Tavlin::selectedFilePath() const {
    return joinPath(myPath->path(), myFiles->selectedName());
}

} // namespace tavlin
