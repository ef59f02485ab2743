#include "goals.h"

#include <QTest>

using quelm::bench::GoalId;

Q_DECLARE_METATYPE(GoalId)

class TestGoals : public QObject
{
    Q_OBJECT

private slots:
    void statesAndChecksEachBound_data();
    void statesAndChecksEachBound();
};

void TestGoals::statesAndChecksEachBound_data()
{
    QTest::addColumn<GoalId>("id");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("holds");
    QTest::addColumn<QString>("text");

    const QString creation = QStringLiteral("goal <= 2");
    QTest::newRow("creation at its bound") << GoalId::creationBySize << 2.0 << true << creation;
    QTest::newRow("creation past it") << GoalId::creationBySize << 2.01 << false << creation;
    const QString floor = QStringLiteral("goal <= 1.2");
    QTest::newRow("floor at its bound") << GoalId::againstDurableFloor << 1.2 << true << floor;
    QTest::newRow("floor past it") << GoalId::againstDurableFloor << 1.21 << false << floor;
    const QString window = QStringLiteral("goal <= 1.15");
    QTest::newRow("window at its bound") << GoalId::windowStart << 1.15 << true << window;
    QTest::newRow("window past it") << GoalId::windowStart << 1.16 << false << window;
    const QString build = QStringLiteral("goal <= 1.5");
    QTest::newRow("build at its bound") << GoalId::buildAgainstFirstFile << 1.5 << true << build;
    QTest::newRow("build past it") << GoalId::buildAgainstFirstFile << 1.51 << false << build;
    const QString memory = QStringLiteral("goal < 1024 KiB");
    QTest::newRow("memory below") << GoalId::runMemoryGrowth << 1023.0 << true << memory;
    QTest::newRow("memory at its bound") << GoalId::runMemoryGrowth << 1024.0 << false << memory;
    const QString conversion = QStringLiteral("goal < 1 us");
    QTest::newRow("conversion below") << GoalId::conversionTime << 0.99 << true << conversion;
    QTest::newRow("conversion at its bound")
        << GoalId::conversionTime << 1.0 << false << conversion;
}

void TestGoals::statesAndChecksEachBound()
{
    QFETCH(GoalId, id);
    QFETCH(double, value);
    QFETCH(bool, holds);
    QFETCH(QString, text);

    const quelm::bench::Goal &goal = quelm::bench::goal(id);
    QCOMPARE(quelm::bench::holds(goal, value), holds);
    QCOMPARE(QString::fromStdString(quelm::bench::goalText(goal)), text);
}

QTEST_GUILESS_MAIN(TestGoals)
#include "tst_goals.moc"
