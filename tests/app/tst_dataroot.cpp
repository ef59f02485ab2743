#include "dataroot.h"

#include <quelm/datafileerror.h>
#include <quelm/datafilestore.h>

#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <filesystem>

using quelm::DataFileError;
using quelm::DataFileStore;
using namespace Qt::StringLiterals;

namespace {

std::filesystem::path toPath(const QString &path)
{
    return std::filesystem::path(path.toStdU16String());
}

// Makes each "name>target" link under `dir`; "%1" in a target stands for `dir`.
void makeLinks(const QString &dir, const QStringList &links)
{
    for (const QString &link : links) {
        const QStringList parts = link.split(u'>');
        std::filesystem::create_symlink(toPath(QString(parts[1]).replace(u"%1"_s, dir)),
                                        toPath(dir + u'/' + parts[0]));
    }
}

} // namespace

class TestDataRoot : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void followsTheXdgRules_data();
    void followsTheXdgRules();
    void storeResolvesLinksBeforeDotDot_data();
    void storeResolvesLinksBeforeDotDot();
    void storeNamesWhatStandsInTheWay_data();
    void storeNamesWhatStandsInTheWay();

private:
    QByteArray savedDataHome;
    QByteArray savedHome;
};

void TestDataRoot::init()
{
    savedDataHome = qgetenv("XDG_DATA_HOME");
    savedHome = qgetenv("HOME");
}

void TestDataRoot::cleanup()
{
    qputenv("XDG_DATA_HOME", savedDataHome);
    qputenv("HOME", savedHome);
}

void TestDataRoot::followsTheXdgRules_data()
{
    QTest::addColumn<QByteArray>("dataHome"); // a null array leaves it unset
    QTest::addColumn<QByteArray>("home");
    QTest::addColumn<QByteArray>("root");

    const QByteArray home = "/home/ann";
    const QByteArray fallback = "/home/ann/.local/share/Quelm";
    QTest::newRow("set") << QByteArray("/data/mine") << home << QByteArray("/data/mine/Quelm");
    QTest::newRow("unset") << QByteArray() << home << fallback;
    QTest::newRow("empty") << QByteArray("") << home << fallback;
    QTest::newRow("relative") << QByteArray("data/mine") << home << fallback;
    QTest::newRow("relative to here") << QByteArray("./data") << home << fallback;
    QTest::newRow("not UTF-8") << QByteArray("/data/\xff\xfe-x") << home
                               << QByteArray("/data/\xff\xfe-x/Quelm");
    QTest::newRow("home not UTF-8") << QByteArray() << QByteArray("/home/\xe9ve")
                                    << QByteArray("/home/\xe9ve/.local/share/Quelm");
}

void TestDataRoot::followsTheXdgRules()
{
    QFETCH(QByteArray, dataHome);
    QFETCH(QByteArray, home);
    QFETCH(QByteArray, root);

    if (dataHome.isNull()) {
        qunsetenv("XDG_DATA_HOME");
    } else {
        qputenv("XDG_DATA_HOME", dataHome);
    }
    qputenv("HOME", home);
    QCOMPARE(QByteArray::fromStdString(quelm::defaultDataRoot().native()), root);
}

void TestDataRoot::storeResolvesLinksBeforeDotDot_data()
{
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("folder"); // where the store must make its run folders

    QTest::newRow("absolute link") << QStringList{u"link>%1/a/b"_s} << u"link/../x"_s << u"a/x"_s;
    QTest::newRow("relative link") << QStringList{u"link>a/b"_s} << u"link/../x"_s << u"a/x"_s;
    QTest::newRow("link in a link")
        << QStringList{u"link>%1/a/b"_s, u"a/b/inner>%1/c/d"_s} << u"link/inner/../x"_s << u"c/x"_s;
    QTest::newRow("link to a sibling")
        << QStringList{u"link>%1/c/d"_s} << u"a/../link/../y"_s << u"c/y"_s;
    QTest::newRow("no link") << QStringList() << u"a/b/../x"_s << u"a/x"_s;
}

void TestDataRoot::storeResolvesLinksBeforeDotDot()
{
    QFETCH(QStringList, links);
    QFETCH(QString, root);
    QFETCH(QString, folder);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const std::filesystem::path base = toPath(dir.path());
    std::filesystem::create_directories(base / "a" / "b");
    std::filesystem::create_directories(base / "c" / "d");
    makeLinks(dir.path(), links);

    DataFileStore store(toPath(dir.path() + u'/' + root));
    store.createFile(1, 10);
    store.closeFile(1);
    const auto expected = toPath(dir.filePath(folder)) / store.runFolder()->filename() / "0001.qdf";
    QVERIFY2(std::filesystem::is_regular_file(expected), expected.c_str());
}

void TestDataRoot::storeNamesWhatStandsInTheWay_data()
{
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("reason"); // "%1" stands for the temporary folder
    QTest::addColumn<int>("error");

    const QString loops = u"a symbolic link that loops stands where the folder %1/loop should be"_s;
    QTest::newRow("loop") << QStringList{u"loop>%1/loop"_s} << u"loop"_s << loops << ELOOP;
    QTest::newRow("loop as a parent")
        << QStringList{u"loop>%1/loop"_s} << u"loop/Quelm"_s << loops << ELOOP;
    QTest::newRow("loop of two") << QStringList{u"loop>other"_s, u"other>loop"_s} << u"loop"_s
                                 << loops << ELOOP;
    const QString missing = u"a symbolic link to a missing target (%1/gone) stands where the "
                            u"folder %1/lost should be"_s;
    QTest::newRow("dangling") << QStringList{u"lost>%1/gone"_s} << u"lost"_s << missing << ENOENT;
    QTest::newRow("dangling parent")
        << QStringList{u"lost>%1/gone"_s} << u"lost/Quelm"_s << missing << ENOENT;
    QTest::newRow("dangling relative")
        << QStringList{u"lost>gone/deeper"_s} << u"lost"_s
        << u"a symbolic link to a missing target (gone/deeper) stands where the folder %1/lost "
           u"should be"_s
        << ENOENT;
    QTest::newRow("link to a file")
        << QStringList{u"link>%1/file"_s} << u"link"_s
        << u"a symbolic link to a file stands where the folder %1/link should be"_s << ENOTDIR;
    QTest::newRow("file") << QStringList() << u"file/Quelm"_s
                          << u"a file stands where the folder %1/file should be"_s << ENOTDIR;
}

void TestDataRoot::storeNamesWhatStandsInTheWay()
{
    QFETCH(QStringList, links);
    QFETCH(QString, root);
    QFETCH(QString, reason);
    QFETCH(int, error);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QFile file(dir.filePath(u"file"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    makeLinks(dir.path(), links);

    const QString path = dir.path() + u'/' + root;
    try {
        DataFileStore store(toPath(path));
        QFAIL("the store was made");
    } catch (const DataFileError &failure) {
        QCOMPARE(QString::fromStdString(failure.what()),
                 u"Cannot make the data folder %1: %2."_s.arg(path, reason.arg(dir.path())));
        QCOMPARE(failure.errorNumber(), error);
    }
}

QTEST_GUILESS_MAIN(TestDataRoot)
#include "tst_dataroot.moc"
