#include "support/testsupport.h"

#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>
#include <unistd.h>

namespace tavlin::test {

bool CountingPlatform::openUrl(const QUrl& url) {
    openedUrls.append(url);
    return true;
}

TavlinOptions windowOptions(CountingPlatform& platform, int& exits) {
    TavlinOptions options;
    options.platform = &platform;
    options.showSplash = false;
    options.screenPixels = {1024, 768};
    options.twipsPerPixel = 15;
    options.devicePixelRatio = 1;
    options.exitProcess = [&exits] { ++exits; };
    return options;
}

bool waitForPicture(const Tavlin& window, int timeoutMs) {
    return QTest::qWaitFor([&window] { return !window.pictureRequestPending(); }, timeoutMs);
}

bool runningAsRoot() { return ::geteuid() == 0; }

QImage patternImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, width, height);
    g.setColorAt(0, QColor(230, 200, 40));
    g.setColorAt(1, QColor(40, 120, 230));
    p.fillRect(image.rect(), g);
    p.fillRect(QRect(0, 0, width / 4, height / 4), Qt::black);
    return image;
}

void writePicture(const QString& path, const QImage& image, int quality) {
    if (path.endsWith(QLatin1String(".gif"), Qt::CaseInsensitive)) {
        // Qt reads GIF but cannot write it; ImageMagick converts a PNG.
        const QString png = path + QStringLiteral(".tmp.png");
        ASSERT_TRUE(image.save(png, "PNG"));
        const int rc = QProcess::execute(QStringLiteral("convert"), {png, QStringLiteral("GIF:") + path});
        QFile::remove(png);
        ASSERT_EQ(rc, 0) << "ImageMagick's convert could not write " << path.toStdString();
        return;
    }
    QImageWriter writer(path);
    writer.setQuality(quality);
    ASSERT_TRUE(writer.write(image)) << writer.errorString().toStdString();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QString sourceDir() { return qEnvironmentVariable("TAVLIN_SOURCE_DIR", QStringLiteral(".")); }

} // namespace tavlin::test
