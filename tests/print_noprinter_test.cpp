// Printing with no printer to be had: the print returns quietly. A process of its own, because
// the printing system reads the server's address once per process.
#include <gtest/gtest.h>

#include <QPrinterInfo>
#include <QTemporaryDir>

#include "desktop/print.h"
#include "support/testsupport.h"

using namespace tavlin;

TEST(PrintWithoutPrinter, ReturnsQuietly) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A print server that is not there: no printer, and so no default printer.
    qputenv("CUPS_SERVER", (dir.path() + QStringLiteral("/no-server.sock")).toLocal8Bit());
    qunsetenv("PRINTER");
    qunsetenv("LPDEST");
    ASSERT_TRUE(QPrinterInfo::defaultPrinter().isNull());
    EXPECT_FALSE(PrintPicture(test::patternImage(64, 48), QStringLiteral("a.jpg")));
    EXPECT_FALSE(PrintPicture(QImage(), QStringLiteral("a.jpg")));
}
