#include "dataroot.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestDataRoot : public QObject
{
    Q_OBJECT

private slots:
    void followsXdgDataHome();
};

void TestDataRoot::followsXdgDataHome()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path()));
    const auto root = quelm::defaultDataRoot();
    qputenv("XDG_DATA_HOME", saved);
    QCOMPARE(root, std::filesystem::path(dir.path().toStdU16String()) / "Quelm");
}

QTEST_GUILESS_MAIN(TestDataRoot)
#include "tst_dataroot.moc"
