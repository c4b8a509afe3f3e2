// PDF backgrounds through the real PDFium build that the set-up puts beside
// the executables: page sizes, what is drawn where, and the damaged, hostile
// and odd files a print shop's artwork folder holds.
#include "render/backgroundimage.h"
#include "render/pdfrasterizer.h"
#include "support/pdffixtures.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A one-page PDF written by hand, for page boxes Qt's writer will not make.
// PDFium rebuilds the missing cross-reference table, as it does for many
// files in the wild.
QByteArray handMadePdf(const QByteArray &mediaBox)
{
    return "%PDF-1.4\n"
           "1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
           "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
           "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox ["
        + mediaBox
        + "] >> endobj\n"
          "trailer << /Root 1 0 R >>\n"
          "%%EOF\n";
}

const QString openFailure =
    QStringLiteral("PDFium could not open the PDF. It may be corrupted or password-protected");

} // namespace

class TestPdfRasterizer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pageSizes_data();
    void pageSizes();
    void drawsTheFirstPageWhereItIs();
    void badFiles_data();
    void badFiles();
    void emptyMediaBoxRendersAsLetter();
    void backgroundReaderTakesPdfsInAnyCase_data();
    void backgroundReaderTakesPdfsInAnyCase();

private:
    QTemporaryDir m_dir;
};

void TestPdfRasterizer::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // The library beside the executables, found as the application finds it.
    qunsetenv("PDFIUM_LIBRARY");
    QVERIFY2(QFile::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/libpdfium.so")),
             "no libpdfium.so beside the tests: run scripts/fetch-pdfium.sh and configure again");
}

void TestPdfRasterizer::pageSizes_data()
{
    QTest::addColumn<QSizeF>("pagePt");
    QTest::addColumn<int>("longSide");
    QTest::addColumn<QSize>("pixels");

    QTest::newRow("A4 portrait") << QSizeF(595, 842) << 2400 << QSize(1696, 2400);
    QTest::newRow("A4 landscape") << QSizeF(842, 595) << 2400 << QSize(2400, 1696);
    QTest::newRow("card 85 x 54 mm") << QSizeF(241, 153) << 2400 << QSize(2400, 1524);
    QTest::newRow("the largest page PDF allows") << QSizeF(14400, 14400) << 2400 << QSize(2400, 2400);
    QTest::newRow("a sliver keeps one pixel") << QSizeF(3000, 1) << 2400 << QSize(2400, 1);
    QTest::newRow("small long side") << QSizeF(595, 842) << 100 << QSize(71, 100);
}

void TestPdfRasterizer::pageSizes()
{
    QFETCH(QSizeF, pagePt);
    QFETCH(int, longSide);
    QFETCH(QSize, pixels);

    const QString path = m_dir.filePath(QStringLiteral("page-%1x%2.pdf").arg(pagePt.width()).arg(pagePt.height()));
    QVERIFY(writeTestPdf(path, pagePt));
    const RasterResult result = rasterizeFirstPdfPage(path, longSide);
    QCOMPARE(result.error, QString());
    QCOMPARE(result.image.size(), pixels);
    QCOMPARE(result.image.pixelColor(0, 0), QColor(Qt::white));
}

// Page 0 of a long document, upright and in place: a red block in the top left
// quarter of the page lands in the top left quarter of the raster, and the
// other 2,999 pages (one of them blue) do not matter.
void TestPdfRasterizer::drawsTheFirstPageWhereItIs()
{
    const QString path = m_dir.filePath(QStringLiteral("long.pdf"));
    QVERIFY(writeTestPdf(path, QSizeF(600, 800), 3000, QRectF(0, 0, 300, 400), Qt::red));

    const RasterResult result = rasterizeFirstPdfPage(path, 2400);
    QCOMPARE(result.error, QString());
    QCOMPARE(result.image.size(), QSize(1800, 2400));
    QCOMPARE(result.image.pixelColor(450, 600), QColor(Qt::red));
    QCOMPARE(result.image.pixelColor(1350, 600), QColor(Qt::white));
    QCOMPARE(result.image.pixelColor(450, 1800), QColor(Qt::white));
    QCOMPARE(result.image.pixelColor(1350, 1800), QColor(Qt::white));
    // Opaque, so it prints as it shows whatever lies under the card.
    QCOMPARE(result.image.pixelColor(1350, 1800).alpha(), 255);
}

void TestPdfRasterizer::badFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message"); // "@PATH" stands for the file

    QTest::newRow("zero bytes") << "empty" << "The PDF is empty or too large";
    QTest::newRow("missing") << "missing" << "Could not read the PDF: No such file or directory";
    QTest::newRow("a folder named .pdf") << "folder" << "Could not read the PDF: @PATH is not a regular file";
    QTest::newRow("a FIFO named .pdf") << "fifo" << "Could not read the PDF: @PATH is not a regular file";
    QTest::newRow("not a PDF") << "text" << openFailure;
    QTest::newRow("cut off after the header") << "truncated" << openFailure;
    QTest::newRow("encrypted with a user password") << "encrypted" << openFailure;
    // PDFium refuses a document whose page tree is empty when it opens it, so
    // "The PDF has no renderable pages" is only reached with other builds.
    QTest::newRow("an empty page tree") << "no pages" << openFailure;
    // 1.3 MB that PDFium unpacks to 1.5 GB and holds twice over: without the
    // renderer's limit it costs gigabytes and renders blank with success.
    QTest::newRow("streams that unpack to 1.5 GB") << "bomb" << "The PDF needs more than 1 GB to render";
}

// Each bad file gives its message and no picture, without crashing and
// without touching the file.
void TestPdfRasterizer::badFiles()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("art.pdf"));
    if (kind == u"empty") {
        QVERIFY(writeFile(path, QByteArray()));
    } else if (kind == u"folder") {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == u"fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == u"text") {
        QVERIFY(writeFile(path, "Artwork: see the shared drive\n"));
    } else if (kind == u"truncated") {
        const QString whole = dir.filePath(QStringLiteral("whole.pdf"));
        QVERIFY(writeTestPdf(whole, QSizeF(595, 842), 1, QRectF(10, 10, 100, 100)));
        QVERIFY(writeFile(path, readFile(whole).left(40)));
    } else if (kind == u"encrypted") {
        const QString plain = dir.filePath(QStringLiteral("plain.pdf"));
        QVERIFY(writeTestPdf(plain, QSizeF(595, 842), 1, QRectF(10, 10, 100, 100)));
        const QString qpdf = QStandardPaths::findExecutable(QStringLiteral("qpdf"));
        QVERIFY2(!qpdf.isEmpty(), "qpdf is needed (scripts/install-deps.sh installs it)");
        QCOMPARE(QProcess::execute(qpdf, {QStringLiteral("--encrypt"), QStringLiteral("secret"),
                                          QStringLiteral("owner"), QStringLiteral("256"), QStringLiteral("--"), plain,
                                          path}),
                 0);
    } else if (kind == u"bomb") {
        const QByteArray bomb = flateBombPdf(qint64(3) << 29);
        QVERIFY(bomb.size() > 1000000 && bomb.size() < 2000000);
        QVERIFY(writeFile(path, bomb));
    } else if (kind == u"no pages") {
        QVERIFY(writeFile(path, "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
                                "2 0 obj << /Type /Pages /Kids [] /Count 0 >> endobj\n"
                                "trailer << /Root 1 0 R >>\n%%EOF\n"));
    }
    const QByteArray before = QFileInfo(path).isFile() ? readFile(path) : QByteArray();
    message.replace(QStringLiteral("@PATH"), QDir::toNativeSeparators(path));

    const RasterResult result = rasterizeFirstPdfPage(path, 2400);
    QCOMPARE(result.error, message);
    QVERIFY(result.image.isNull());
    if (QFileInfo(path).isFile())
        QCOMPARE(readFile(path), before);
}

// A page box of 0 × 0 points never reaches the size check: PDFium gives such
// a page its default US Letter box (612 × 792 pt), so the artwork comes out
// as a blank page of that shape rather than as a failure or a crash.
void TestPdfRasterizer::emptyMediaBoxRendersAsLetter()
{
    const QString path = m_dir.filePath(QStringLiteral("zero.pdf"));
    QVERIFY(writeFile(path, handMadePdf("0 0 0 0")));
    const RasterResult result = rasterizeFirstPdfPage(path, 2400);
    QCOMPARE(result.error, QString());
    QCOMPARE(result.image.size(), QSize(1855, 2400));
    QCOMPARE(result.image.pixelColor(900, 1200), QColor(Qt::white));
}

void TestPdfRasterizer::backgroundReaderTakesPdfsInAnyCase_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("lower case") << "front.pdf";
    QTest::newRow("upper case") << "FRONT.PDF";
    QTest::newRow("mixed case") << "Front.Pdf";
}

// The one reader of background files rasterises a PDF at the long side the
// canvas and the export use, whatever the case of its suffix.
void TestPdfRasterizer::backgroundReaderTakesPdfsInAnyCase()
{
    QFETCH(QString, name);
    const QString path = m_dir.filePath(name);
    QVERIFY(writeTestPdf(path, QSizeF(595, 842), 1, QRectF(0, 0, 595, 421), Qt::blue));

    const BackgroundImage background = loadBackgroundImage(path);
    QCOMPARE(background.error, QString());
    QCOMPARE(background.image.size(), QSize(1696, 2400));
    QCOMPARE(background.image.pixelColor(848, 300), QColor(Qt::blue));
    QCOMPARE(background.image.pixelColor(848, 2100), QColor(Qt::white));
}

QTEST_MAIN(TestPdfRasterizer)
#include "tst_pdfrasterizer.moc"
