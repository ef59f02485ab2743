#include "datafile.h"
#include "datafileerror.h"
#include "datafilestore.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <cmath>
#include <limits>

using namespace quelm;
using namespace Qt::StringLiterals;
using testfiles::toPath;
using testfiles::toQString;

#define VERIFY_DIR(dir) QVERIFY2((dir).isValid(), qPrintable((dir).errorString()))

namespace {

template <typename T> T at(const QByteArray &bytes, qsizetype offset)
{
    return qFromLittleEndian<T>(bytes.constData() + offset);
}

// A valid file with room for two bars and none written.
QByteArray goodFile()
{
    DataFileHeader header;
    header.fileNumber = 1;
    header.capacity = 2;
    const HeaderBytes bytes = encodeHeader(header);
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), bytes.size()) +
           QByteArray(96, '\0');
}

template <typename T> QByteArray patched(QByteArray bytes, qsizetype offset, T value)
{
    qToLittleEndian(value, bytes.data() + offset);
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    qToLittleEndian(crc32(data, 60), bytes.data() + 60);
    return bytes;
}

QByteArray flipped(QByteArray bytes, qsizetype offset)
{
    bytes[offset] = static_cast<char>(bytes[offset] ^ 0x10);
    return bytes;
}

QString openError(const std::filesystem::path &path)
{
    try {
        DataFile::open(path);
    } catch (const DataFileError &error) {
        return QString::fromStdString(error.what());
    }
    return {};
}

const Bar sample[] = {
    {1733551262123, 101.25, 102.5, 100.75, 101.0, 12000.0},
    {-1, -0.0, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::denorm_min(),
     std::numeric_limits<double>::max(), 0.0},
    {std::numeric_limits<std::int64_t>::max(), 1e-300, 2, 3, 4, 5},
};

} // namespace

class TestDataFile : public QObject
{
    Q_OBJECT

private slots:
    void checksumIsTheCommonCrc32();
    void fileMatchesTheDocumentedLayout();
    void appendsAndReadsBarsUpToCapacity();
    void fileWithoutBarsIsValidAndFull();
    void refusesDamagedFiles_data();
    void refusesDamagedFiles();
};

void TestDataFile::checksumIsTheCommonCrc32()
{
    const char text[] = "123456789";
    QCOMPARE(crc32(reinterpret_cast<const unsigned char *>(text), 9), 0xCBF43926u);
}

// Reads a made, filled and closed file with nothing but the offsets of docs/data-file-format.md.
void TestDataFile::fileMatchesTheDocumentedLayout()
{
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    std::int32_t number = 5, bars = 4;
    DataFileStore store(toPath(dir.path()));
    store.CreateDataFile(number, bars);
    const std::filesystem::path path = *store.filePath(5);
    {
        DataFile file = DataFile::open(path, DataFile::Mode::ReadWrite);
        file.appendBar(sample[0]);
        file.appendBar(sample[1]);
    }
    store.CloseDataFile(number);

    const QByteArray bytes = testfiles::contents(path);
    QCOMPARE(bytes.size(), 64 + 48 * 4);
    QCOMPARE(bytes.left(8), "QUELMDAT"_ba);
    QCOMPARE(at<quint16>(bytes, 8), 1);
    QCOMPARE(at<quint16>(bytes, 10), 64);
    QCOMPARE(at<quint32>(bytes, 12), 48u);
    QCOMPARE(at<qint32>(bytes, 16), 5);
    QCOMPARE(at<quint32>(bytes, 20), 1u);
    QCOMPARE(at<quint64>(bytes, 24), 4u);
    QCOMPARE(at<quint64>(bytes, 32), 2u);
    QVERIFY(std::abs(at<qint64>(bytes, 40) - QDateTime::currentMSecsSinceEpoch()) < 60000);
    QCOMPARE(bytes.mid(48, 12), QByteArray(12, '\0'));
    QCOMPARE(at<quint32>(bytes, 60),
             crc32(reinterpret_cast<const unsigned char *>(bytes.constData()), 60));
    for (int i = 0; i < 2; ++i) {
        const qsizetype record = 64 + 48 * i;
        const Bar read{at<qint64>(bytes, record),      at<double>(bytes, record + 8),
                       at<double>(bytes, record + 16), at<double>(bytes, record + 24),
                       at<double>(bytes, record + 32), at<double>(bytes, record + 40)};
        QCOMPARE(read, sample[i]);
        QVERIFY(std::signbit(read.open) == std::signbit(sample[i].open));
    }
    QCOMPARE(bytes.mid(64 + 96), QByteArray(96, '\0'));
}

void TestDataFile::appendsAndReadsBarsUpToCapacity()
{
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    std::int32_t number = 2, bars = 3;
    DataFileStore store(toPath(dir.path()));
    store.CreateDataFile(number, bars);
    const std::filesystem::path path = *store.filePath(2);
    const QString where = u"in data file 2 at "_s + toQString(path);
    {
        DataFile file = DataFile::open(path, DataFile::Mode::ReadWrite);
        for (const Bar &bar : sample) {
            file.appendBar(bar);
        }
        file.flush();
        QCOMPARE(file.header().barsWritten, 3u);
        try {
            file.appendBar(sample[0]);
            QFAIL("a bar went past the capacity");
        } catch (const DataFileError &error) {
            QCOMPARE(QString::fromStdString(error.what()),
                     u"Cannot add a bar %1: it is full (3 bars)."_s.arg(where));
        }
    }
    // Closing keeps the bars another writer counted.
    store.CloseDataFile(number);
    DataFile file = DataFile::open(path);
    QCOMPARE(file.header().barsWritten, 3u);
    QVERIFY(file.header().closedCleanly);
    for (std::uint64_t i = 0; i < 3; ++i) {
        QCOMPARE(file.readBar(i), sample[i]);
    }
    const auto message = [](auto action) {
        try {
            action();
        } catch (const DataFileError &error) {
            return QString::fromStdString(error.what());
        }
        return QString();
    };
    QCOMPARE(message([&] { file.readBar(3); }),
             u"Cannot read bar 3 %1: it holds 3 bars, counting from 0."_s.arg(where));
    QCOMPARE(message([&] { file.appendBar(sample[0]); }),
             u"Cannot add a bar %1: it was opened for reading only."_s.arg(where));
}

void TestDataFile::fileWithoutBarsIsValidAndFull()
{
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    std::int32_t number = 1, bars = 0;
    DataFileStore store(toPath(dir.path()));
    store.CreateDataFile(number, bars);
    DataFile file = DataFile::open(*store.filePath(1), DataFile::Mode::ReadWrite);
    QCOMPARE(file.header().capacity, 0u);
    QVERIFY_THROWS_EXCEPTION(DataFileError, file.appendBar(sample[0]));
    QVERIFY_THROWS_EXCEPTION(DataFileError, file.readBar(0));
}

void TestDataFile::refusesDamagedFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");

    const QByteArray good = goodFile();
    const QString checksum = u"its header is damaged (the checksum does not match)"_s;
    const QString room =
        u"its header gives room for %1 bars, which takes %2 bytes, but the file is "
        "%3 bytes long"_s;
    QTest::newRow("empty")
        << QByteArray()
        << u"it is 0 bytes long, too short for the header of a data file (64 bytes)"_s;
    QTest::newRow("cut inside the header")
        << good.left(30)
        << u"it is 30 bytes long, too short for the header of a data file (64 bytes)"_s;
    QTest::newRow("cut inside the records") << good.chopped(1) << room.arg(2).arg(160).arg(159);
    QTest::newRow("a byte too many") << good + '\0' << room.arg(2).arg(160).arg(161);
    QTest::newRow("flipped bit in the file number") << flipped(good, 16) << checksum;
    QTest::newRow("flipped bit in bars written") << flipped(good, 32) << checksum;
    QTest::newRow("flipped bit in the reserved bytes") << flipped(good, 50) << checksum;
    QTest::newRow("flipped bit in the checksum") << flipped(good, 61) << checksum;
    QTest::newRow("another kind of file")
        << "\x89PNG\r\n\x1a\n"_ba + QByteArray(200, 'x')
        << u"it is not a Quelm data file (its first bytes are not \"QUELMDAT\")"_s;
    QTest::newRow("format version 2")
        << patched<quint16>(good, 8, 2)
        << u"it has format version 2, and this program reads only version 1"_s;
    QTest::newRow("other record size")
        << patched<quint32>(good, 12, 40)
        << u"its header gives a header size of 64 and a record size of 40 bytes instead of 64 and 48"_s;
    QTest::newRow("unknown state")
        << patched<quint32>(good, 20, 7) << u"its header gives an unknown state 7"_s;
    QTest::newRow("more capacity than the file holds")
        << patched<quint64>(good, 24, 1000) << room.arg(1000).arg(48064).arg(160);
    QTest::newRow("capacity past any file size")
        << patched<quint64>(good, 24, std::numeric_limits<quint64>::max())
        << u"its header gives an impossible capacity of 18446744073709551615 bars"_s;
    QTest::newRow("more bars than capacity")
        << patched<quint64>(good, 32, 3)
        << u"its header says 3 bars were written to a file with room for 2"_s;
}

void TestDataFile::refusesDamagedFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    const auto path = toPath(dir.path()) / "0001.qdf";
    testfiles::write(path, goodFile());
    QCOMPARE(openError(path), QString());

    testfiles::write(path, bytes);
    QCOMPARE(openError(path), u"Cannot open data file %1: %2."_s.arg(toQString(path), reason));
}

QTEST_GUILESS_MAIN(TestDataFile)
#include "tst_datafile.moc"
