#include <gtest/gtest.h>

#include "support/testsupport.h"
#include "viewer/pictureloader.h"

using namespace tavlin;

TEST(PictureLoader, DecodesAtRequestedSize) {
    QTemporaryDir dir;
    const QString path = dir.filePath("a.jpg");
    test::writePicture(path, test::patternImage(400, 300));
    const LoadedPicture p = loadPicture(path, [](QSize s) { return DecodeRequest{s / 2, {}}; });
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    EXPECT_EQ(p.size, QSize(400, 300));
    EXPECT_EQ(p.image.size(), QSize(200, 150));
}
