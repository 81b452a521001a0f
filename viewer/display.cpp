// Showing one picture with its information lines. The picture is decoded on a
// worker thread (decode/); the window asks for it and paints it when it is ready.

#include <optional>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QTimer>

#include "decode/picturedecoder.h"
#include "decode/prefetchplan.h"
#include "platform/platform.h"
#include "platform/report.h"
#include "viewer/filelist.h"
#include "viewer/folderlist.h"
#include "viewer/folderscan.h"
#include "viewer/imageview.h"
#include "viewer/slideshow.h"
#include "viewer/tavlin.h"

namespace tavlin {

void Tavlin::DisplayPict(ImageView* objImage, const QString& svPicture) {
    imgError->hide();
    if (!isEnabled())
        return;
    // The number line belongs to the selection of this moment, not of when the decode ends.
    m_requestedNumber = pictureNumberText(myFiles->selectedIndex(), myFiles->count());
    m_requestedView = objImage;
    if (const DecodedPtr ready = decoder().request(svPicture, displayContext()))
        showDecoded(*ready);
}

void Tavlin::showDecoded(const DecodedPicture& decoded) {
    imgError->hide();
    const LoadedPicture& picture = decoded.picture;
    const bool failed = !picture.ok || picture.image.isNull();

    // The lines name the file asked for, also when it failed, so the error picture
    // says which file it stands for; a picture that did not load has no dimensions.
    txtFile->setText(decoded.path);
    txtPicture->setText(m_requestedNumber);
    txtWidth->setText(failed ? QStringLiteral("Width:") : widthText(picture.size.width()));
    txtHeight->setText(failed ? QStringLiteral("Height:") : heightText(picture.size.height()));
    // The loader measures the file it opens; one it could not open is measured as it
    // was found, and one that is not there has no size.
    const std::optional<std::int64_t> fileSize =
        picture.fileSize > 0    ? std::optional(picture.fileSize)
        : decoded.stamp.valid() ? std::optional<std::int64_t>(decoded.stamp.size)
                                : std::nullopt;
    txtFileSize->setText(fileSize ? fileSizeText(*fileSize) : QStringLiteral("File Size:"));
    for (QLabel* label : {txtFile, txtPicture, txtWidth, txtHeight, txtFileSize})
        label->adjustSize();

    if (failed) {
        myPicture->hide();
        imgError->show();
        m_platform->beep();
        reportProblem(picture.error.isEmpty() ? QStringLiteral("The picture could not be shown.")
                                              : picture.error);
        prefetchLikelyNext();
        return;
    }

    // The picture shows, but the file ends before all of it: say so, as for one that fails.
    if (!picture.warning.isEmpty())
        reportProblem(picture.warning);
    m_shownPicture = decoded.path;
    ImageView* objImage = m_requestedView ? m_requestedView : myPicture;
    const double scale = decoded.plan.scale;
    const QRectF r = picture.imageRect;
    objImage->hide();
    objImage->setGeometry(decoded.plan.placed);
    objImage->setPicture(picture.image, QRectF(r.topLeft() / scale, r.size() / scale));
    objImage->show();
    prefetchLikelyNext();
}

void Tavlin::prefetchLikelyNext() {
    if (!m_options.prefetch)
        return;
    BrowsingState state;
    state.selected = myFiles->selectedIndex();
    state.count = myFiles->count();
    state.slideshow = m_slideshow->isRunning();
    state.screensaver = bScreensaverMode;
    state.loop = m_slideshow->loops();
    // The screensaver's next pick is known only once its number is drawn: draw it a
    // tick early. The tick then uses this number, so the pictures shown are the same.
    if (state.slideshow && state.screensaver && state.count > 0)
        state.nextPick = m_slideshow->nextPick(state.count);
    QStringList paths;
    for (const std::int64_t index : likelyNextIndices(state))
        paths.append(joinPath(myFiles->folder(), myFiles->names().at(index)));
    decoder().prefetch(paths, displayContext(), myFiles->folder());
}

void Tavlin::startFirstPictureEarly(const StartRequest& request) {
    if (!m_options.prefetch)
        return;
    DisplayContext context = displayContext();
    QString name;
    if (bScreensaverMode) {
        if (myFiles->count() == 0)
            return;
        // The screensaver's own start forces these before it shows its first pick.
        context.options.stretch = true;
        context.options.center = true;
        context.options.panelVisible = false;
        name = myFiles->names().at(m_slideshow->nextPick(myFiles->count()));
    } else if (myFiles->names().contains(request.picture)) {
        name = request.picture;
    } else {
        return;
    }
    decoder().prefetch({joinPath(myFiles->folder(), name)}, context, myFiles->folder());
}

PictureDecoder& Tavlin::decoder() {
    if (!m_decoder) {
        m_decoder = new PictureDecoder(this);
        connect(m_decoder, &PictureDecoder::ready, this,
                [this](const DecodedPtr& decoded) { showDecoded(*decoded); });
    }
    return *m_decoder;
}

bool Tavlin::pictureRequestPending() const {
    return m_decoder && m_decoder->requestPending();
}

DisplayContext Tavlin::displayContext() const {
    DisplayContext context;
    context.screenPixels = m_screen;
    context.twipsPerPixel = m_tpp;
    context.options = DisplayOptions{chkStretch->isChecked(), chkCenter->isChecked(),
                                     !frameSettings->isHidden(), design::frameSettings.width};
    context.devicePixelRatio = m_devicePixelRatio;
    return context;
}

QString Tavlin::selectedFilePath() const {
    // The file list's own folder: while another folder is being read, its names are still
    // those of the folder it shows.
    return joinPath(myFiles->folder(), myFiles->selectedName());
}

} // namespace tavlin
