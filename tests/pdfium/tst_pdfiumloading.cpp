// Finding and driving the PDFium library: the search order, the messages when
// none is usable, and the calls made, in order and with their arguments, on
// every path. A stand-in library records the calls; the real one is tested in
// tst_pdfrasterizer. No test here may load the real library: once loaded it
// stays mapped, and the system search would then find it by its name.
#include "render/pdfrasterizer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString notFoundMessage = QStringLiteral(
    "No usable PDFium library found. Place a 64-bit libpdfium.so next to the application,or set the "
    "PDFIUM_LIBRARY environment variable.\nTried: ");

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestPdfiumLoading : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void candidates_data();
    void candidates();
    void noUsableLibrary_data();
    void noUsableLibrary();
    void callsInOrder_data();
    void callsInOrder();
    void environmentVariableIsFirst();
    void rendererFailuresAreMessages_data();
    void rendererFailuresAreMessages();

private:
    QStringList loggedCalls() const;

    QTemporaryDir m_dir;
    QString m_pdf; // any bytes will do: the stand-in does not parse them
    QString m_log;
    QString m_emptyFolder;
};

void TestPdfiumLoading::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_pdf = m_dir.filePath(QStringLiteral("art.pdf"));
    QVERIFY(writeFile(m_pdf, "%PDF-1.7 stand-in bytes"));
    m_log = m_dir.filePath(QStringLiteral("calls.log"));
    m_emptyFolder = m_dir.filePath(QStringLiteral("app"));
    QVERIFY(QDir().mkpath(m_emptyFolder));
    qputenv("FAKE_PDFIUM_LOG", m_log.toLocal8Bit());
}

void TestPdfiumLoading::init()
{
    QFile::remove(m_log);
    qunsetenv("FAKE_PDFIUM_FAIL");
    qunsetenv("PDFIUM_LIBRARY");
}

QStringList TestPdfiumLoading::loggedCalls() const
{
    QFile file(m_log);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

void TestPdfiumLoading::candidates_data()
{
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("variable unset") << "" << "/opt/vdp/bin"
                                    << QStringList{"/opt/vdp/bin/libpdfium.so", "pdfium"};
    QTest::newRow("variable first") << "/usr/lib/x/libpdfium.so" << "/opt/vdp/bin"
                                    << QStringList{"/usr/lib/x/libpdfium.so", "/opt/vdp/bin/libpdfium.so", "pdfium"};
    QTest::newRow("variable naming the application's copy, tried once")
        << "/opt/vdp/bin/libpdfium.so" << "/opt/vdp/bin" << QStringList{"/opt/vdp/bin/libpdfium.so", "pdfium"};
    QTest::newRow("variable naming the bare name, tried once")
        << "pdfium" << "/opt/vdp/bin" << QStringList{"pdfium", "/opt/vdp/bin/libpdfium.so"};
}

void TestPdfiumLoading::candidates()
{
    QFETCH(QString, environment);
    QFETCH(QString, folder);
    QFETCH(QStringList, expected);
    QCOMPARE((PdfiumSearch{environment, folder}.candidates()), expected);
}

void TestPdfiumLoading::noUsableLibrary_data()
{
    QTest::addColumn<QString>("library"); // at PDFIUM_LIBRARY; "@MISSING" a path that does not exist
    QTest::addColumn<QString>("message"); // "@TRIED" stands for the attempts

    QTest::newRow("missing file") << "@MISSING" << notFoundMessage + "@TRIED";
    QTest::newRow("a text file") << "@TEXT" << notFoundMessage + "@TRIED";
    QTest::newRow("a library that is not PDFium")
        << FAKE_PDFIUM_NONE << "The current libpdfium.so is missing the required page rendering API";
    QTest::newRow("a library without FPDF_RenderPageBitmap")
        << FAKE_PDFIUM_INCOMPLETE << "The current libpdfium.so is missing the required page rendering API";
}

// Nothing usable: the attempts are listed one per line, in native notation;
// a library that loads but lacks an entry point is never initialised.
void TestPdfiumLoading::noUsableLibrary()
{
    QFETCH(QString, library);
    QFETCH(QString, message);

    if (library == u"@MISSING")
        library = m_dir.filePath(QStringLiteral("nowhere/libpdfium.so"));
    if (library == u"@TEXT") {
        library = m_dir.filePath(QStringLiteral("libnotes.so"));
        QVERIFY(writeFile(library, "not a shared object"));
    }
    const QString tried = QStringList{QDir::toNativeSeparators(library),
                                      QDir::toNativeSeparators(m_emptyFolder + QStringLiteral("/libpdfium.so")),
                                      QStringLiteral("pdfium")}
                              .join(u'\n');
    message.replace(QStringLiteral("@TRIED"), tried);

    const RasterResult result = rasterizeFirstPdfPage(m_pdf, 2400, PdfiumSearch{library, m_emptyFolder});
    QVERIFY(result.image.isNull());
    QCOMPARE(result.error, message);
    QCOMPARE(loggedCalls(), QStringList());
}

void TestPdfiumLoading::callsInOrder_data()
{
    QTest::addColumn<QString>("failAt");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("calls");

    const QStringList opened{"InitLibrary", "LoadMemDocument 23 nopassword"};
    const QStringList pageLoaded = opened + QStringList{"GetPageCount", "LoadPage 0"};
    const QStringList sized = pageLoaded + QStringList{"GetPageWidth", "GetPageHeight"};
    // 300 × 150 pt at 2400: 2400 × 1200 pixels, rows of 9600 bytes.
    const QString createBitmap = QStringLiteral("BitmapCreateEx 2400 1200 4 9600 buffer");

    QTest::newRow("rendered")
        << "" << ""
        << sized + QStringList{createBitmap, "FillRect 0 0 2400 1200 ffffffff", "RenderPageBitmap 0 0 2400 1200 0 1",
                               "BitmapDestroy", "ClosePage", "CloseDocument", "DestroyLibrary"};
    QTest::newRow("document does not open")
        << "open" << "PDFium could not open the PDF. It may be corrupted or password-protected"
        << opened + QStringList{"DestroyLibrary"};
    QTest::newRow("no pages") << "pages" << "The PDF has no renderable pages"
                              << opened + QStringList{"GetPageCount", "CloseDocument", "DestroyLibrary"};
    QTest::newRow("first page does not load") << "page" << "Failed to load the first PDF page"
                                              << pageLoaded + QStringList{"CloseDocument", "DestroyLibrary"};
    QTest::newRow("page of zero width") << "size" << "The PDF page size is invalid"
                                        << sized + QStringList{"ClosePage", "CloseDocument", "DestroyLibrary"};
    QTest::newRow("bitmap not created")
        << "bitmap" << "Could not create the PDF bitmap buffer"
        << sized + QStringList{createBitmap, "ClosePage", "CloseDocument", "DestroyLibrary"};
}

// The entry points in the order PDFium documents them, with the arguments the
// rasteriser promises (page 0, BGRA over the image's own rows, opaque white,
// annotations drawn), and what was acquired released in reverse order on every
// path. The stand-in has only the double-returning size getters, so the
// rendered row also shows the fallback from the float ones.
void TestPdfiumLoading::callsInOrder()
{
    QFETCH(QString, failAt);
    QFETCH(QString, message);
    QFETCH(QStringList, calls);

    if (!failAt.isEmpty())
        qputenv("FAKE_PDFIUM_FAIL", failAt.toLatin1());
    const RasterResult result = rasterizeFirstPdfPage(m_pdf, 2400, PdfiumSearch{FAKE_PDFIUM, m_emptyFolder});
    QCOMPARE(result.error, message);
    QCOMPARE(loggedCalls(), calls);
    if (!message.isEmpty()) {
        QVERIFY(result.image.isNull());
        return;
    }
    QCOMPARE(result.image.size(), QSize(2400, 1200));
    // The stand-in paints the left half blue over the white fill.
    QCOMPARE(result.image.pixelColor(100, 600), QColor(Qt::blue));
    QCOMPARE(result.image.pixelColor(2300, 600), QColor(Qt::white));
}

// The process's own search takes PDFIUM_LIBRARY before anything else.
void TestPdfiumLoading::environmentVariableIsFirst()
{
    qputenv("PDFIUM_LIBRARY", QByteArray(FAKE_PDFIUM));
    const PdfiumSearch search = PdfiumSearch::fromProcess();
    QCOMPARE(search.environmentValue, QStringLiteral(FAKE_PDFIUM));
    QCOMPARE(search.applicationDirectory, QCoreApplication::applicationDirPath());

    const RasterResult result = rasterizeFirstPdfPage(m_pdf, 2400);
    QCOMPARE(result.error, QString());
    QCOMPARE(result.image.size(), QSize(2400, 1200));
    QVERIFY(loggedCalls().contains(QStringLiteral("RenderPageBitmap 0 0 2400 1200 0 1")));
}

void TestPdfiumLoading::rendererFailuresAreMessages_data()
{
    QTest::addColumn<QString>("failAt");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<QString>("message");

    QTest::newRow("renderer crashes") << "crash" << 30000
                                      << "The PDF renderer crashed on this file (signal 11); the file may be damaged";
    QTest::newRow("an allocation over the limit") << "memory" << 30000 << "The PDF needs more than 1 GB to render";
    QTest::newRow("renderer never returns") << "hang" << 2000 << "The PDF took longer than 2 seconds to render";
}

// PDFium runs in a child process under the limits: whatever it does while it
// draws, this process gets a message and no picture, and goes on.
void TestPdfiumLoading::rendererFailuresAreMessages()
{
    QFETCH(QString, failAt);
    QFETCH(int, timeoutMs);
    QFETCH(QString, message);

    qputenv("FAKE_PDFIUM_FAIL", failAt.toLatin1());
    PdfRasterLimits limits;
    limits.timeoutMs = timeoutMs;
    QElapsedTimer timer;
    timer.start();
    const RasterResult result = rasterizeFirstPdfPage(m_pdf, 2400, PdfiumSearch{FAKE_PDFIUM, m_emptyFolder}, limits);
    QCOMPARE(result.error, message);
    QVERIFY(result.image.isNull());
    QVERIFY(loggedCalls().contains(QStringLiteral("RenderPageBitmap 0 0 2400 1200 0 1")));
    // The default limit is what the renderer ran under.
    QCOMPARE(limits.addressSpaceBytes, qint64(1) << 30);
    if (failAt == u"hang")
        QVERIFY(timer.elapsed() >= timeoutMs);
}

QTEST_GUILESS_MAIN(TestPdfiumLoading)
#include "tst_pdfiumloading.moc"
