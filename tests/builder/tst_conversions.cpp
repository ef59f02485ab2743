#include "conversions.h"

#include <QTest>

using quelm::ConversionError;
namespace conv = quelm::conversions;

// The locales the tables run under: a decimal point with comma groups, and the reverse.
static const QLocale english(QLocale::English, QLocale::UnitedStates);
static const QLocale german(QLocale::German, QLocale::Germany);

class TestConversions : public QObject
{
    Q_OBJECT

private slots:
    void acceptsNumbers_data();
    void acceptsNumbers();
    void refusesWhatIsNotANumber_data();
    void refusesWhatIsNotANumber();
    void refusesDoublesBeyondRange();
    void underflowIsZero();
    void roundsHalvesToEven_data();
    void roundsHalvesToEven();
    void refusesIntegersOutOfRange_data();
    void refusesIntegersOutOfRange();
    void failureMessagesQuoteTheText();
    void writesPlainDecimal_data();
    void writesPlainDecimal();
};

void TestConversions::acceptsNumbers_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    QTest::newRow("en plain") << english << "10" << 10.0;
    QTest::newRow("en blanks around") << english << "  25  " << 25.0;
    QTest::newRow("en tabs and no-break spaces") << english << "\t\u00a07\u00a0\t" << 7.0;
    QTest::newRow("en negative") << english << "-7" << -7.0;
    QTest::newRow("en plus sign") << english << "+3" << 3.0;
    QTest::newRow("en fraction") << english << "2.5" << 2.5;
    QTest::newRow("en fraction only") << english << ".5" << 0.5;
    QTest::newRow("en trailing point") << english << "5." << 5.0;
    QTest::newRow("en zero") << english << "0" << 0.0;
    QTest::newRow("en zero point zero") << english << "0.0" << 0.0;
    QTest::newRow("en exponent") << english << "1e3" << 1000.0;
    QTest::newRow("en capital negative exponent") << english << "1E-2" << 0.01;
    QTest::newRow("en exponent with plus") << english << "2.5e+2" << 250.0;
    QTest::newRow("en grouped") << english << "1,000" << 1000.0;
    QTest::newRow("en grouped twice") << english << "-12,345,678.5" << -12345678.5;
    QTest::newRow("en zero to a huge power") << english << "0e999999999999" << 0.0;
    QTest::newRow("de decimal comma") << german << "2,5" << 2.5;
    QTest::newRow("de grouped") << german << "1.000" << 1000.0;
    QTest::newRow("de grouped with fraction") << german << "1.234,75" << 1234.75;
    QTest::newRow("de exponent") << german << "1,5e2" << 150.0;
}

void TestConversions::acceptsNumbers()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(conv::textToDouble(text, locale), expected);
}

void TestConversions::refusesWhatIsNotANumber_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("text");

    for (const QLocale &locale : {english, german}) {
        const QString tag = locale.name() + QLatin1Char(' ');
        const char *texts[] = {"",      " ",      "\t",     "abc", "12abc", "1 2",  "--1",
                               "+-1",   "0x10",   "$5",     "5$",  "inf",   "-inf", "infinity",
                               "nan",   "NaN",    "e3",     "1e",  "1e+",   ".",    "-",
                               "1e3.5", "1,,000", "1..000", "١٢",  "１２"};
        for (const char *text : texts)
            QTest::addRow("%s\"%s\"", qPrintable(tag), text) << locale << QString::fromUtf8(text);
    }
    QTest::newRow("en misplaced group") << english << "1,00";
    QTest::newRow("en long lead before group") << english << "1000,000";
    QTest::newRow("en group of four") << english << "1,0000";
    QTest::newRow("en group in fraction") << english << "1.000,5";
    QTest::newRow("en decimal comma") << english << "2,5";
    QTest::newRow("de decimal point") << german << "1.5";
    QTest::newRow("de misplaced group") << german << "1.00";
}

void TestConversions::refusesWhatIsNotANumber()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, text);
    QVERIFY_THROWS_EXCEPTION(ConversionError, conv::textToDouble(text, locale));
    QVERIFY_THROWS_EXCEPTION(ConversionError, conv::textToInt32(text, locale));
}

void TestConversions::refusesDoublesBeyondRange()
{
    for (const char *text : {"1e309", "-1e309", "1000e306", "1e999999999999"}) {
        try {
            conv::textToDouble(QString::fromLatin1(text), english);
            QFAIL(text);
        } catch (const ConversionError &error) {
            QVERIFY2(QByteArray(error.what()).contains("too large"), error.what());
        }
    }
}

void TestConversions::underflowIsZero()
{
    QCOMPARE(conv::textToDouble(QStringLiteral("1e-400"), english), 0.0);
    QCOMPARE(conv::textToInt32(QStringLiteral("-1e-400"), english), 0);
}

void TestConversions::roundsHalvesToEven_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");

    QTest::newRow("2.5") << "2.5" << 2;
    QTest::newRow("3.5") << "3.5" << 4;
    QTest::newRow("-2.5") << "-2.5" << -2;
    QTest::newRow("-3.5") << "-3.5" << -4;
    QTest::newRow("0.5") << "0.5" << 0;
    QTest::newRow("1.5") << "1.5" << 2;
    QTest::newRow("0.4") << "0.4" << 0;
    QTest::newRow("0.6") << "0.6" << 1;
    QTest::newRow("2.5000001") << "2.5000001" << 3;
    QTest::newRow("-7") << "-7" << -7;
    QTest::newRow("1e3") << "1e3" << 1000;
    QTest::newRow("largest") << "2147483647" << 2147483647;
    QTest::newRow("just under largest") << "2147483647.4" << 2147483647;
    QTest::newRow("smallest") << "-2147483648" << -2147483647 - 1;
    QTest::newRow("half below smallest") << "-2147483648.5" << -2147483647 - 1;
}

void TestConversions::roundsHalvesToEven()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    QCOMPARE(conv::textToInt32(text, english), expected);
}

void TestConversions::refusesIntegersOutOfRange_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("half above largest") << "2147483647.5";
    QTest::newRow("one above largest") << "2147483648";
    QTest::newRow("below smallest") << "-2147483649";
    QTest::newRow("1e10") << "1e10";
    QTest::newRow("-1e10") << "-1e10";
    QTest::newRow("1e300") << "1e300";
}

void TestConversions::refusesIntegersOutOfRange()
{
    QFETCH(QString, text);
    try {
        conv::textToInt32(text, english);
        QFAIL("no error");
    } catch (const ConversionError &error) {
        QVERIFY2(QByteArray(error.what()).contains("-2147483648 to 2147483647"), error.what());
    }
}

void TestConversions::failureMessagesQuoteTheText()
{
    try {
        conv::textToDouble(QStringLiteral(" 12abc "), english);
        QFAIL("no error");
    } catch (const ConversionError &error) {
        QCOMPARE(QString::fromUtf8(error.what()), QStringLiteral("\" 12abc \" is not a number."));
    }
    try {
        conv::textToDouble(QString(100, QLatin1Char('x')), english);
        QFAIL("no error");
    } catch (const ConversionError &error) {
        const QString message = QString::fromUtf8(error.what());
        QVERIFY2(message.size() < 60, error.what());
        QVERIFY(message.contains(QChar(0x2026)));
    }
}

void TestConversions::writesPlainDecimal_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zero") << 0 << "0";
    QTest::newRow("ten") << 10 << "10";
    QTest::newRow("negative") << -7 << "-7";
    QTest::newRow("no grouping") << 1234567 << "1234567";
    QTest::newRow("largest") << 2147483647 << "2147483647";
    QTest::newRow("smallest") << -2147483647 - 1 << "-2147483648";
}

void TestConversions::writesPlainDecimal()
{
    QFETCH(int, value);
    QFETCH(QString, expected);
    QLocale::setDefault(german);
    QCOMPARE(conv::int32ToText(value), expected);
    QLocale::setDefault(QLocale::c());
}

QTEST_GUILESS_MAIN(TestConversions)
#include "tst_conversions.moc"
