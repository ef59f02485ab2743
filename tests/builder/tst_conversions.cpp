#include "conversions.h"

#include <QTest>

using quelm::ConversionError;
namespace conv = quelm::conversions;

// The locales the tables run under: a decimal point with comma groups, and the reverse.
static const QLocale english(QLocale::English, QLocale::UnitedStates);
static const QLocale german(QLocale::German, QLocale::Germany);

static QLocale named(const char *name)
{
    return QLocale(QLatin1String(name));
}

class TestConversions : public QObject
{
    Q_OBJECT

private slots:
    void acceptsNumbers_data();
    void acceptsNumbers();
    void refusesWhatIsNotANumber_data();
    void refusesWhatIsNotANumber();
    void readsBackWhatTheLocaleWrites_data();
    void readsBackWhatTheLocaleWrites();
    void underflowIsZero();
    void roundsHalvesToEven_data();
    void roundsHalvesToEven();
    void refusesIntegersOutOfRange_data();
    void refusesIntegersOutOfRange();
    void failureMessagesQuoteTheText_data();
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
    QTest::newRow("en beyond doubles") << english << "1e309" << qInf();
    QTest::newRow("en beyond doubles negative") << english << "-1000e306" << -qInf();
    QTest::newRow("en longest text") << english << QString(999, u'0') + u'7' << 7.0;
    QTest::newRow("en invisible ends") << english << "\u200b\ufeff12\u2060\u200e" << 12.0;
    QTest::newRow("en direction mark inside") << english << "1\u200f0" << 10.0;

    const QLocale hindi = named("hi_IN");
    QTest::newRow("hi Indian groups") << hindi << "1,00,000" << 100000.0;
    QTest::newRow("hi groups of three") << hindi << "1,000,000" << 1000000.0;
    QLocale hindiUngrouped = hindi;
    hindiUngrouped.setNumberOptions(QLocale::OmitGroupSeparator);
    QTest::newRow("hi written ungrouped") << hindiUngrouped << "1,00,000" << 100000.0;
    QTest::newRow("hi twenty digits") << hindi << "1,00,00,00,00,00,00,00,00,000" << 1e19;
    QTest::newRow("ar native digits") << named("ar_EG") << "\u0661\u0660" << 10.0;
    QTest::newRow("fa minus without its mark") << named("fa_IR") << "\u2212\u06f7" << -7.0;
    QTest::newRow("fa ASCII minus") << named("fa_IR") << "-\u06f7" << -7.0;
    const QLocale french = named("fr_FR");
    QTest::newRow("fr plain space") << french << "1 000" << 1000.0;
    QTest::newRow("fr no-break space") << french << "1\u00a0000" << 1000.0;
    QTest::newRow("fr narrow no-break space") << french << "-1\u202f000\u202f000,5" << -1000000.5;
    QTest::newRow("ru narrow space for its no-break one")
        << named("ru_RU") << "1\u202f000" << 1000.0;
    QTest::newRow("de_CH apostrophe") << named("de_CH") << "1'000'000" << 1000000.0;
    QTest::newRow("pl lead of four") << named("pl_PL") << "1234\u00a0567" << 1234567.0;
    QTest::newRow("pl groups of three") << named("pl_PL") << "1 234 567" << 1234567.0;
    QTest::newRow("pl nineteen digits, lead of four")
        << named("pl_PL") << "1234\u00a0567\u00a0890\u00a0123\u00a0456\u00a0789"
        << 1234567890123456789.0;
}

void TestConversions::acceptsNumbers()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, text);
    QFETCH(double, expected);
    try {
        QCOMPARE(conv::textToDouble(text, locale), expected);
    } catch (const ConversionError &error) {
        QFAIL(error.what());
    }
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
    QTest::newRow("en one character too long") << english << QString(1000, u'0') + u'7';
    QTest::newRow("en space as group") << english << "1 000";
    QTest::newRow("en apostrophe as group") << english << "1\u2019000";
    QTest::newRow("en zero-width space inside") << english << "1\u200b0";
    QTest::newRow("hi misplaced group") << named("hi_IN") << "10,0,000";
    QTest::newRow("hi group of three inside") << named("hi_IN") << "1,000,00";
    QTest::newRow("ar mixed digits") << named("ar_EG") << "\u06612";
    QTest::newRow("fa other locale's digits") << named("fa_IR") << "\u0661\u0660";
    QTest::newRow("fr misplaced group") << named("fr_FR") << "1 00";
    QTest::newRow("fr tab as group") << named("fr_FR") << "1\t000";
    QTest::newRow("de_CH misplaced apostrophe") << named("de_CH") << "10'00";
    QTest::newRow("pl lead of five") << named("pl_PL") << "12345 678";
}

void TestConversions::refusesWhatIsNotANumber()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, text);
    QVERIFY_THROWS_EXCEPTION(ConversionError, conv::textToDouble(text, locale));
    QVERIFY_THROWS_EXCEPTION(ConversionError, conv::textToInt32(text, locale));
}

void TestConversions::readsBackWhatTheLocaleWrites_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    const char *names[] = {"en_US", "de_DE", "fr_FR", "de_CH", "hi_IN", "ar_EG", "fa_IR",
                           "ps_AF", "pl_PL", "es_ES", "sv_SE", "uk_UA", "bn_BD", "ccp_BD"};
    const qlonglong whole[] = {0,      7,       -7,         10,          1000,
                               100000, 1234567, 2147483647, -2147483648, 123456789012345678};
    const double fractions[] = {2.5, -0.4, 1234.5, 0.001, 1e-7, -1.5e300};
    for (const char *name : names) {
        const QLocale locale = named(name);
        for (qlonglong n : whole)
            QTest::addRow("%s %lld", name, n) << locale << locale.toString(n) << double(n);
        for (double n : fractions)
            QTest::addRow("%s %g", name, n) << locale << locale.toString(n) << n;
        QTest::addRow("%s fixed", name)
            << locale << locale.toString(-1234567.25, 'f', 2) << -1234567.25;
    }
}

void TestConversions::readsBackWhatTheLocaleWrites()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, text);
    QFETCH(double, expected);
    try {
        QCOMPARE(conv::textToDouble(text, locale), expected);
    } catch (const ConversionError &error) {
        QFAIL(error.what());
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
    QTest::newRow("beyond doubles") << "1e400";
    QTest::newRow("beyond doubles negative") << "-1e999999999999";
}

void TestConversions::refusesIntegersOutOfRange()
{
    QFETCH(QString, text);
    try {
        conv::textToInt32(text, english);
        QFAIL("no error");
    } catch (const ConversionError &error) {
        QVERIFY2(error.message().contains(QStringLiteral("-2147483648 to 2147483647")),
                 error.what());
    }
}

void TestConversions::failureMessagesQuoteTheText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");

    QTest::newRow("as typed") << " 12abc "
                              << "\" 12abc \" is not a number.";
    QTest::newRow("invisible characters shown")
        << "1\u200b0\u200e\u00ad"
        << "\"1<U+200B>0<U+200E><U+00AD>\" is not a number.";
    QTest::newRow("long text shortened")
        << QString(100, u'x')
        << QStringLiteral("\"%1\u2026\" is not a number.").arg(QString(39, u'x'));
    QTest::newRow("too long")
        << QString(1001, u'1')
        << QStringLiteral("\"%1\u2026\" is too long to be read as a number: it has more than "
                          "1000 characters.")
               .arg(QString(39, u'1'));
}

void TestConversions::failureMessagesQuoteTheText()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    try {
        conv::textToDouble(text, english);
        QFAIL("no error");
    } catch (const ConversionError &error) {
        QCOMPARE(error.message(), message);
        QCOMPARE(QString::fromUtf8(error.what()), message);
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
