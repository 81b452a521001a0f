// Printing for real: a private CUPS server with a cups-pdf queue as the default printer, each
// print becoming a PDF file. Where no CUPS server can be started here, the same printing code
// writes the PDF files itself, and the test says so.
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "desktop/print.h"
#include "support/testsupport.h"

using namespace tavlin;

namespace {

QString run(const QString& program, const QStringList& args, int* exitCode = nullptr) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool ok = p.waitForFinished(60000);
    if (exitCode)
        *exitCode = ok && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromLocal8Bit(p.readAll());
}

// cupsd on a socket of its own, with its own configuration, spool and logs in a temporary
// folder, and one cups-pdf queue, the server's default, writing into out/.
class PrivateCups {
public:
    // Empty when the server runs; otherwise why it could not.
    QString start() {
        if (::geteuid() != 0)
            return QStringLiteral("not root (cupsd and the cups-pdf backend need it)");
        for (const char* tool : {"cupsd", "lpadmin", "lpstat"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool),
                                               {"/usr/sbin", "/usr/bin", "/sbin"})
                    .isEmpty())
                return QStringLiteral("%1 is not installed").arg(tool);
        const QString ppd = QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd");
        if (!QFile::exists(QStringLiteral("/usr/lib/cups/backend/cups-pdf")) || !QFile::exists(ppd))
            return QStringLiteral("printer-driver-cups-pdf is not installed");
        if (!dir.isValid())
            return QStringLiteral("no temporary folder");

        // The filters run as the lp user and must reach the spool below this folder.
        QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7755));
        const QDir d(dir.path());
        for (const char* sub : {"conf", "spool", "tmp", "cache", "state", "log", "out", "pdfspool"})
            d.mkpath(QString::fromLatin1(sub));
        // The filters write their temporary files here as the lp user.
        ::chmod(QFile::encodeName(d.filePath("tmp")).constData(), 01777);
        socket = d.filePath(QStringLiteral("cups.sock"));
        outDir = d.filePath(QStringLiteral("out"));
        queue = QStringLiteral("tavlin-test-%1").arg(::getpid());

        test::writeFile(d.filePath("conf/cups-files.conf"),
                        QStringLiteral("ServerRoot %1/conf\nRequestRoot %1/spool\nTempDir %1/tmp\n"
                                       "CacheDir %1/cache\nStateDir %1/state\n"
                                       "ErrorLog %1/log/error_log\nAccessLog %1/log/access_log\n"
                                       "PageLog %1/log/page_log\nSystemGroup root\n"
                                       "Sandboxing Relaxed\n")
                            .arg(dir.path())
                            .toUtf8());
        test::writeFile(d.filePath("conf/cupsd.conf"),
                        QStringLiteral("Listen %1\nBrowsing No\nWebInterface No\nLogLevel warn\n"
                                       "DefaultAuthType None\n<Location />\n  Order allow,deny\n"
                                       "  Allow all\n</Location>\n<Location /admin>\n"
                                       "  Order allow,deny\n  Allow all\n</Location>\n")
                            .arg(socket)
                            .toUtf8());
        // cups-pdf reads the settings of a queue named by its device address from /etc/cups.
        pdfConf = QStringLiteral("/etc/cups/cups-pdf-%1.conf").arg(queue);
        QFile conf(pdfConf);
        if (!conf.open(QIODevice::WriteOnly))
            return QStringLiteral("cannot write %1").arg(pdfConf);
        conf.write(QStringLiteral("Out %1\nAnonDirName %1\nSpool %2/pdfspool\nLabel 2\n"
                                  "UserUMask 0000\n")
                       .arg(outDir, dir.path())
                       .toUtf8());
        conf.close();

        server.setProcessChannelMode(QProcess::MergedChannels);
        server.start(QStringLiteral("cupsd"), {"-f", "-c", d.filePath("conf/cupsd.conf"), "-s",
                                               d.filePath("conf/cups-files.conf")});
        if (!server.waitForStarted(10000))
            return QStringLiteral("cupsd did not start: ") + server.errorString();
        const bool up = QTest::qWaitFor(
            [&] {
                return server.state() != QProcess::Running ||
                       run("lpstat", {"-h", socket, "-r"}).contains("is running");
            },
            30000);
        if (!up || server.state() != QProcess::Running)
            return QStringLiteral("cupsd did not answer: ") +
                   QString::fromLocal8Bit(server.readAll());
        int rc = 0;
        const QString added =
            run("lpadmin", {"-h", socket, "-p", queue, "-v", "cups-pdf:/" + queue, "-P", ppd, "-E"},
                &rc);
        if (rc != 0)
            return QStringLiteral("lpadmin could not add the queue: ") + added;
        run("lpadmin", {"-h", socket, "-d", queue}, &rc);
        if (rc != 0)
            return QStringLiteral("lpadmin could not make the queue the default");
        // Before the first printer query: libcups reads the server address once.
        qputenv("CUPS_SERVER", socket.toLocal8Bit());
        qunsetenv("PRINTER");
        qunsetenv("LPDEST");
        return QString();
    }

    ~PrivateCups() {
        if (server.state() == QProcess::Running) {
            server.terminate();
            if (!server.waitForFinished(15000))
                server.kill();
            server.waitForFinished(5000);
        }
        if (!pdfConf.isEmpty())
            QFile::remove(pdfConf);
    }

    // True once the queue is idle with no job waiting.
    bool idle() { return run("lpstat", {"-h", socket, "-o", queue}).trimmed().isEmpty(); }
    // A filter that fails stops the queue; nothing more will come out of it.
    bool stopped() { return run("lpstat", {"-h", socket, "-p", queue}).contains("disabled"); }

    QTemporaryDir dir;
    QProcess server;
    QString socket, outDir, queue, pdfConf;
};

struct Pdf {
    int pages = -1;
    QRect inked;   // the bounding box of what is drawn on page 1, in points
    QColor middle; // the colour at the middle of that box
};

// Reads page count and drawing of a PDF through poppler's tools.
Pdf inspect(const QString& pdf) {
    Pdf result;
    const QRegularExpressionMatch pages =
        QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(run("pdfinfo", {pdf}));
    if (pages.hasMatch())
        result.pages = pages.captured(1).toInt();
    const QString prefix = pdf + QStringLiteral(".page");
    run("pdftoppm", {"-r", "72", "-f", "1", "-singlefile", pdf, prefix});
    const QImage page(prefix + QStringLiteral(".ppm"));
    int left = page.width(), top = page.height(), right = -1, bottom = -1;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) {
            const QColor c = page.pixelColor(x, y);
            if (c.red() < 200 || c.green() < 200 || c.blue() < 200) {
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
        }
    if (right >= 0) {
        result.inked = QRect(QPoint(left, top), QPoint(right, bottom));
        result.middle = page.pixelColor(result.inked.center());
    }
    return result;
}

QImage solid(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(200, 0, 0));
    return image;
}

class PrintTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_FALSE(QStandardPaths::findExecutable("pdfinfo").isEmpty())
            << "poppler-utils is needed to read the printed PDF files";
        cups = std::make_unique<PrivateCups>();
        const QString why = cups->start();
        if (!why.isEmpty()) {
            std::cout << "[ NOTE     ] CUPS could not start (" << why.toStdString()
                      << "); printing into PDF files through the same code instead\n";
            cups.reset();
        }
    }
    static void TearDownTestSuite() { cups.reset(); }

    void SetUp() override {
        ASSERT_TRUE(fallbackDir.isValid());
        if (cups) {
            ASSERT_EQ(QPrinterInfo::defaultPrinterName(), cups->queue);
        }
    }

    QString outDir() const { return cups ? cups->outDir : fallbackDir.path(); }

    QStringList documents() const {
        return QDir(outDir()).entryList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name);
    }

    // Prints as the program does; without CUPS, into the next PDF file.
    bool print(const QImage& picture, QSize ownPixels = {},
               const QString& name = QStringLiteral("picture.jpg")) {
        if (cups)
            return PrintPicture(picture, name, ownPixels, 15);
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(
            QDir(fallbackDir.path())
                .filePath(QStringLiteral("print-%1.pdf").arg(++printed, 3, 10, QChar('0'))));
        return PrintPictureOn(printer, picture, name, ownPixels, 15);
    }

    // Waits, with a bound, until `count` documents are there and nothing is queued.
    QStringList waitForDocuments(int count) {
        (void)QTest::qWaitFor(
            [&] {
                if (!cups)
                    return documents().size() >= count;
                return cups->stopped() || (documents().size() >= count && cups->idle());
            },
            120000);
        if (cups) {
            EXPECT_FALSE(cups->stopped())
                << "the print queue stopped: see " << cups->dir.path().toStdString();
        }
        return documents();
    }

    static inline std::unique_ptr<PrivateCups> cups;
    QTemporaryDir fallbackDir;
    int printed = 0;
};

} // namespace

TEST_F(PrintTest, OnePageWithThePictureAtItsOwnSizeInTheTopLeftCorner) {
    const int before = documents().size();
    // 300 x 150 pixels at 15 twips a pixel: 4500 x 2250 twips, 225 x 112.5 points.
    const struct {
        const char* name;
        QImage picture;
        QSize ownPixels;
    } cases[] = {
        {"decoded whole", solid(300, 150), {}},
        {"decoded at a quarter", solid(75, 38), {300, 150}},
    };
    int expected = before;
    for (const auto& c : cases) {
        ASSERT_TRUE(print(c.picture, c.ownPixels)) << c.name;
        const QStringList docs = waitForDocuments(++expected);
        ASSERT_EQ(docs.size(), expected) << c.name;
        const Pdf pdf = inspect(QDir(outDir()).filePath(docs.back()));
        EXPECT_EQ(pdf.pages, 1) << c.name;
        ASSERT_TRUE(pdf.inked.isValid()) << c.name << ": nothing drawn";
        EXPECT_NEAR(pdf.inked.width(), 225, 3) << c.name;
        EXPECT_NEAR(pdf.inked.height(), 112.5, 3) << c.name;
        // Within the printer's margin of the top-left corner: not centred, not scaled.
        EXPECT_LT(pdf.inked.left(), 40) << c.name;
        EXPECT_LT(pdf.inked.top(), 40) << c.name;
        EXPECT_GT(pdf.middle.red(), 150) << c.name;
        EXPECT_LT(pdf.middle.green(), 80) << c.name;
    }
}

TEST_F(PrintTest, EachPrintIsADocumentOfOnePageNamedAfterItsPicture) {
    const int before = documents().size();
    // A queue that writes files names them after the job: without a name two prints
    // went to one file and the second overwrote the first.
    ASSERT_TRUE(print(test::patternImage(200, 120), {}, QStringLiteral("beach one.jpg")));
    ASSERT_TRUE(print(test::patternImage(120, 200), {}, QStringLiteral("dunes.jpg")));
    const QStringList docs = waitForDocuments(before + 2);
    ASSERT_EQ(docs.size(), before + 2);
    // Queue files are named after their jobs, so the new two are found by their titles.
    QStringList titles;
    for (const QString& doc : docs) {
        const QString path = QDir(outDir()).filePath(doc);
        const QString info = run("pdfinfo", {path});
        const auto field = [&info](const char* name) {
            return QRegularExpression(QStringLiteral("(?m)^%1:\\s+(.*)$").arg(QLatin1String(name)))
                .match(info)
                .captured(1)
                .trimmed();
        };
        // The queue's converter may wrap the title in parentheses.
        QString title = field("Title");
        if (title.startsWith(QLatin1Char('(')) && title.endsWith(QLatin1Char(')')))
            title = title.mid(1, title.size() - 2);
        if (title != QLatin1String("beach one.jpg") && title != QLatin1String("dunes.jpg"))
            continue;
        titles << title;
        EXPECT_EQ(inspect(path).pages, 1) << doc.toStdString();
        if (!cups) {
            EXPECT_EQ(field("Creator"), QStringLiteral("Tavlin")) << info.toStdString();
        }
    }
    titles.sort();
    EXPECT_EQ(titles, (QStringList{"beach one.jpg", "dunes.jpg"}));
}

TEST_F(PrintTest, NoPicturePrintsNothing) {
    const int before = documents().size();
    EXPECT_FALSE(print(QImage()));
    EXPECT_FALSE(PrintPicture(QImage(), QStringLiteral("none.jpg")));
    // A real print afterwards: had the empty ones queued anything, it would show up as well.
    ASSERT_TRUE(print(solid(40, 40)));
    const QStringList docs = waitForDocuments(before + 1);
    EXPECT_EQ(docs.size(), before + 1);
}
