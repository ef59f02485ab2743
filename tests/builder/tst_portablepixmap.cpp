#include "portablepixmap.h"

#include <QFile>
#include <QTest>

using quelm::readPortablePixmap;

class TestPortablePixmap : public QObject
{
    Q_OBJECT

private slots:
    void matchesTheArtItWasMadeFrom_data();
    void matchesTheArtItWasMadeFrom();
    void readsHeaderVariants_data();
    void readsHeaderVariants();
    void refusesWhatIsNotAPixmap_data();
    void refusesWhatIsNotAPixmap();
};

void TestPortablePixmap::matchesTheArtItWasMadeFrom_data()
{
    QTest::addColumn<QString>("name");
    for (const char *name :
         {"banner", "banner@2x", "icons/quelm-16", "icons/quelm-32", "icons/quelm-48"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

// The window shows the plain pixmaps; they must hold exactly the pixels of the art's PNGs.
void TestPortablePixmap::matchesTheArtItWasMadeFrom()
{
    QFETCH(QString, name);
    const QString base = QStringLiteral(QUELM_RESOURCES_DIR "/") + name;
    QFile file(base + QStringLiteral(".ppm"));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    const QImage read = readPortablePixmap(file.readAll());
    QImage png(base + QStringLiteral(".png"));
    QVERIFY(!png.isNull());
    png.setDevicePixelRatio(1.0); // Qt reads a scale from the "@2x" in a file name.
    QCOMPARE(read.convertToFormat(QImage::Format_RGB32), png.convertToFormat(QImage::Format_RGB32));
}

void TestPortablePixmap::readsHeaderVariants_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::newRow("one line") << QByteArray("P6 2 1 255\n");
    QTest::newRow("comment") << QByteArray("P6\n# made by hand\n2 1\n255\n");
    QTest::newRow("tabs and CRLF") << QByteArray("P6\t2\r\n1\t255\r");
}

void TestPortablePixmap::readsHeaderVariants()
{
    QFETCH(QByteArray, header);
    const QImage image = readPortablePixmap(header + QByteArray("\x10\x20\x30\xff\x00\x80", 6));
    QCOMPARE(image.size(), QSize(2, 1));
    QCOMPARE(image.pixel(0, 0), qRgb(0x10, 0x20, 0x30));
    QCOMPARE(image.pixel(1, 0), qRgb(0xff, 0x00, 0x80));
}

void TestPortablePixmap::refusesWhatIsNotAPixmap_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray pixels(6, '\x7f');
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("grey map") << QByteArray("P5 2 1 255\n") + pixels;
    QTest::newRow("text pixmap") << QByteArray("P3 2 1 255\n1 2 3 4 5 6\n");
    QTest::newRow("16-bit channels") << QByteArray("P6 2 1 65535\n") + pixels + pixels;
    QTest::newRow("zero width") << QByteArray("P6 0 1 255\n");
    QTest::newRow("missing height") << QByteArray("P6 2\n");
    QTest::newRow("one pixel short") << QByteArray("P6 2 1 255\n") + pixels.left(3);
    QTest::newRow("no separator") << QByteArray("P6 2 1 255") + pixels;
    QTest::newRow("huge size, no pixels") << QByteArray("P6 1000000 1000000 255\n") + pixels;
    QTest::newRow("size beyond any int") << QByteArray("P6 99999999999999999999 1 255\n");
}

void TestPortablePixmap::refusesWhatIsNotAPixmap()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(readPortablePixmap(bytes).isNull());
}

QTEST_GUILESS_MAIN(TestPortablePixmap)
#include "tst_portablepixmap.moc"
