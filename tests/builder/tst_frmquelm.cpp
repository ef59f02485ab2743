#include "messageboxnotifier.h"
#include "windowtest.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <limits>

using quelm::frmQuelm;
using Call = ComponentLog::Call;
using Message = RecordingNotifier::Message;
constexpr auto Create = ComponentLog::Operation::Create;

namespace {

const QString builderTitle = QStringLiteral("Quelm File Builder");

// A number written with the decimal separator of the locale the test runs under.
QString local(const char *number)
{
    return QString::fromLatin1(number).replace(QLatin1Char('.'), QLocale::system().decimalPoint());
}

Message report(int file, int bars)
{
    return {false, QStringLiteral("File %1  Bars %2").arg(file).arg(bars),
            QStringLiteral("File %1 has been created and is ready to take %2 bars of data.")
                .arg(file)
                .arg(bars)};
}

// Runs `check` on the message box once it is open, then closes it with its OK button.
void whenBoxOpens(const std::function<void(QMessageBox *)> &check)
{
    auto *poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, check] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll->deleteLater();
        check(box);
        box->button(QMessageBox::Ok)->click();
    });
    poll->start(10);
}

} // namespace

class TestBuilderWindow : public WindowTest
{
    Q_OBJECT

private slots:
    void runsInTheLocaleItWasGiven();
    void startsWithTheFirstContents();
    void placesEachControl_data();
    void placesEachControl();
    void buildHoldsTheFocusAndTabReachesTheBox();
    void enterAndEscapeDoNotBuild();
    void spaceOnBuildBuildsTenBars();
    void buildsReportsAndAdvances();
    void settlesTheBarCount_data();
    void settlesTheBarCount();
    void failureStopsAtItsStep_data();
    void failureStopsAtItsStep();
    void refusesAPasteTooLongForTheBox();
    void stopsForGoodAfterFileOneHundred();
    void countsOnFromWhatTheComponentWrote();
    void saysWhatEachControlIsForToAScreenReader();
    void drawsTheBannerAtTheScreensScale();
    void showsRealMessageBoxes_data();
    void showsRealMessageBoxes();

private:
    template <typename T> T *child(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    void build(const QString &text);
};

void TestBuilderWindow::build(const QString &text)
{
    child<QLineEdit>("txtSize")->setText(text);
    window->cmdBuild_Click();
}

void TestBuilderWindow::runsInTheLocaleItWasGiven()
{
    const QString expected = qEnvironmentVariable("QUELM_TEST_DECIMAL_POINT");
    if (expected.isEmpty())
        QSKIP("this run names no decimal separator");
    QCOMPARE(QLocale::system().decimalPoint(), expected);
}

void TestBuilderWindow::startsWithTheFirstContents()
{
    QCOMPARE(window->windowTitle(), builderTitle);
    QCOMPARE(window->objectName(), QStringLiteral("frmQuelm"));
    QCOMPARE(window->size(), QSize(267, 204));
    QCOMPARE(window->minimumSize(), window->maximumSize());
    QVERIFY(!window->windowIcon().isNull());
    QCOMPARE(window->nextFileNumber(), 1);
    QCOMPARE(window->barCount(), 0);
    QCOMPARE(child<QLabel>("Label1")->text(), QStringLiteral("Next File Number"));
    QCOMPARE(child<QLabel>("lblFileNumber")->text(), QStringLiteral("1"));
    QCOMPARE(child<QLabel>("Label2")->text(), QStringLiteral("Number of Bars"));
    QCOMPARE(child<QLineEdit>("txtSize")->text(), QStringLiteral("10"));
    QCOMPARE(child<QPushButton>("cmdBuild")->text(), QStringLiteral("Build"));
    QVERIFY(child<QPushButton>("cmdBuild")->isEnabled());
    QVERIFY(log->calls.empty());
    QVERIFY(notifier.messages.isEmpty());
}

void TestBuilderWindow::placesEachControl_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QColor>("textColour");

    const QColor yellow(255, 255, 0);
    QTest::newRow("Label1") << "Label1" << QRect(20, 144, 89, 17) << yellow;
    QTest::newRow("lblFileNumber")
        << "lblFileNumber" << QRect(112, 144, 57, 17) << QColor(0, 255, 255);
    QTest::newRow("Label2") << "Label2" << QRect(20, 168, 81, 17) << yellow;
    QTest::newRow("txtSize") << "txtSize" << QRect(112, 168, 57, 21) << QColor();
    QTest::newRow("cmdBuild") << "cmdBuild" << QRect(176, 168, 65, 21) << QColor();
}

void TestBuilderWindow::placesEachControl()
{
    QFETCH(QString, name);
    QFETCH(QRect, rect);
    QFETCH(QColor, textColour);

    auto *widget = window->findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), rect);
    QCOMPARE(widget->font().family(), QApplication::font(widget).family());
    if (auto *label = qobject_cast<QLabel *>(widget)) {
        // A caption may get a smaller size of the default font, but is never cut off.
        QVERIFY(widget->font().pointSizeF() <= QApplication::font(widget).pointSizeF());
        QVERIFY(QFontMetricsF(label->font()).horizontalAdvance(label->text()) <= rect.width());
    } else {
        QCOMPARE(widget->font(), QApplication::font(widget));
    }
    if (textColour.isValid()) {
        QCOMPARE(widget->palette().color(QPalette::WindowText), textColour);
        QVERIFY(!widget->autoFillBackground());
    } else {
        QCOMPARE(widget->palette(), QApplication::palette(widget));
    }
}

void TestBuilderWindow::buildHoldsTheFocusAndTabReachesTheBox()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    auto *cmdBuild = child<QPushButton>("cmdBuild");
    auto *txtSize = child<QLineEdit>("txtSize");
    QCOMPARE(QApplication::focusWidget(), cmdBuild);
    QTest::keyClick(cmdBuild, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), txtSize);
    QTest::keyClick(txtSize, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), cmdBuild);
    QTest::keyClick(cmdBuild, Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), txtSize);
}

void TestBuilderWindow::enterAndEscapeDoNotBuild()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    auto *cmdBuild = child<QPushButton>("cmdBuild");
    auto *txtSize = child<QLineEdit>("txtSize");
    QVERIFY(!cmdBuild->isDefault());
    QVERIFY(!cmdBuild->autoDefault());
    txtSize->setFocus();
    for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
        QTest::keyClick(txtSize, Qt::Key(key));
    QTest::keyClick(cmdBuild, Qt::Key_Escape);
    QVERIFY(log->calls.empty());
    QVERIFY(window->isVisible());
}

void TestBuilderWindow::spaceOnBuildBuildsTenBars()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QCOMPARE(log->calls, (std::vector<Call>{{Create, 1, 10}}));
    QCOMPARE(notifier.messages, QList<Message>{report(1, 10)});
}

void TestBuilderWindow::buildsReportsAndAdvances()
{
    auto *label = child<QLabel>("lblFileNumber");
    // While a box is up the build has been made and the label not yet moved.
    QStringList seen;
    notifier.onMessage = [&](const Message &) {
        seen << QStringLiteral("%1 calls, label %2").arg(log->calls.size()).arg(label->text());
    };
    build(QStringLiteral("10"));
    build(QStringLiteral("25"));
    build(local("0.4"));

    QCOMPARE(log->calls, (std::vector<Call>{{Create, 1, 10}, {Create, 2, 25}, {Create, 3, 0}}));
    QCOMPARE(notifier.messages, (QList<Message>{report(1, 10), report(2, 25), report(3, 0)}));
    QCOMPARE(notifier.messages.first().title, QStringLiteral("File 1  Bars 10"));
    QCOMPARE(seen,
             (QStringList{QStringLiteral("1 calls, label 1"), QStringLiteral("2 calls, label 2"),
                          QStringLiteral("3 calls, label 3")}));
    QCOMPARE(label->text(), QStringLiteral("4"));
    QCOMPARE(window->nextFileNumber(), 4);
    QCOMPARE(window->barCount(), 0);
}

void TestBuilderWindow::settlesTheBarCount_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("boxAfter");
    QTest::addColumn<int>("bars");

    QTest::newRow("empty") << ""
                           << "10" << 10;
    QTest::newRow("zero") << "0"
                          << "10" << 10;
    QTest::newRow("zero with fraction") << local("0.0") << "10" << 10;
    QTest::newRow("minus zero") << "-0"
                                << "10" << 10;
    QTest::newRow("zero exponent") << "0e5"
                                   << "10" << 10;
    QTest::newRow("blanks around zero") << " 0 "
                                        << "10" << 10;
    QTest::newRow("small fraction") << local("0.4") << local("0.4") << 0;
    QTest::newRow("half to even down") << local("2.5") << local("2.5") << 2;
    QTest::newRow("half to even up") << local("3.5") << local("3.5") << 4;
    QTest::newRow("negative") << "-7"
                              << "-7" << -7;
    QTest::newRow("blanks around") << "  25  "
                                   << "  25  " << 25;
    QTest::newRow("exponent") << "1e3"
                              << "1e3" << 1000;
    QTest::newRow("largest") << "2147483647"
                             << "2147483647" << 2147483647;
}

void TestBuilderWindow::settlesTheBarCount()
{
    QFETCH(QString, typed);
    QFETCH(QString, boxAfter);
    QFETCH(int, bars);

    build(typed);
    QCOMPARE(child<QLineEdit>("txtSize")->text(), boxAfter);
    QCOMPARE(window->barCount(), bars);
    QCOMPARE(log->calls, (std::vector<Call>{{Create, 1, bars}}));
    QCOMPARE(notifier.messages, QList<Message>{report(1, bars)});
}

void TestBuilderWindow::failureStopsAtItsStep_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("componentFails");
    QTest::addColumn<QString>("warning");

    const QString unreadable =
        QStringLiteral("File 2 was not built: the number of bars could not be read.\n");
    QTest::newRow("not a number") << "abc" << false
                                  << unreadable + QStringLiteral("\"abc\" is not a number.");
    QTest::newRow("blanks only") << "   " << false
                                 << unreadable + QStringLiteral("\"   \" is not a number.");
    QTest::newRow("trailing letters")
        << "12abc" << false << unreadable + QStringLiteral("\"12abc\" is not a number.");
    QTest::newRow("nan") << "nan" << false
                         << unreadable + QStringLiteral("\"nan\" is not a number.");
    QTest::newRow("beyond doubles")
        << "1e400" << false
        << unreadable + QStringLiteral("\"1e400\" is out of range: it must be a whole number "
                                       "from -2147483648 to 2147483647.");
    QTest::newRow("beyond 32 bits")
        << "1e10" << false
        << unreadable + QStringLiteral("\"1e10\" is out of range: it must be a whole number "
                                       "from -2147483648 to 2147483647.");
    QTest::newRow("component fails")
        << "30" << true << QStringLiteral("Cannot create file 2: the disk is full.");
}

void TestBuilderWindow::failureStopsAtItsStep()
{
    QFETCH(QString, typed);
    QFETCH(bool, componentFails);
    QFETCH(QString, warning);

    build(QStringLiteral("5"));
    notifier.messages.clear();
    log->calls.clear();
    if (componentFails)
        log->failCreateFor.insert(2);

    build(typed);
    QCOMPARE(notifier.messages, (QList<Message>{{true, builderTitle, warning}}));
    QCOMPARE(log->calls.size(), componentFails ? 1u : 0u);
    QCOMPARE(window->nextFileNumber(), 2);
    QCOMPARE(child<QLabel>("lblFileNumber")->text(), QStringLiteral("2"));
    QCOMPARE(child<QLineEdit>("txtSize")->text(), typed);
    QVERIFY(child<QPushButton>("cmdBuild")->isEnabled());

    // The window goes on: the next good build makes file 2.
    log->failCreateFor.clear();
    notifier.messages.clear();
    build(QStringLiteral("7"));
    QCOMPARE(log->calls.back(), (Call{Create, 2, 7}));
    QCOMPARE(notifier.messages, QList<Message>{report(2, 7)});
}

void TestBuilderWindow::refusesAPasteTooLongForTheBox()
{
    auto *txtSize = child<QLineEdit>("txtSize");
    QApplication::clipboard()->setText(QString(99'998, u'0') + QStringLiteral("12"));
    txtSize->selectAll();
    txtSize->paste();
    window->cmdBuild_Click();
    QVERIFY(log->calls.empty());
    QCOMPARE(notifier.messages.size(), 1);
    QVERIFY(notifier.messages.first().warning);
    QVERIFY2(notifier.messages.first().text.contains(QStringLiteral("too long")),
             qPrintable(notifier.messages.first().text));
    QCOMPARE(window->nextFileNumber(), 1);
}

void TestBuilderWindow::stopsForGoodAfterFileOneHundred()
{
    auto *label = child<QLabel>("lblFileNumber");
    auto *cmdBuild = child<QPushButton>("cmdBuild");
    for (int file = 1; file <= 98; ++file)
        window->cmdBuild_Click();
    QCOMPARE(label->text(), QStringLiteral("99"));

    window->cmdBuild_Click();
    QCOMPARE(label->text(), QStringLiteral("100"));
    QCOMPARE(window->nextFileNumber(), 100);
    QVERIFY(cmdBuild->isEnabled());

    notifier.messages.clear();
    bool enabledDuringLimitBox = false;
    notifier.onMessage = [&](const Message &) { enabledDuringLimitBox = cmdBuild->isEnabled(); };
    window->cmdBuild_Click();
    QCOMPARE(notifier.messages,
             (QList<Message>{report(100, 10),
                             {false, QStringLiteral("Max File Capacity."),
                              QStringLiteral("You can not build more than 100 files.")}}));
    QVERIFY(enabledDuringLimitBox);
    QVERIFY(!cmdBuild->isEnabled());
    QCOMPARE(label->text(), QStringLiteral("100"));
    QCOMPARE(window->nextFileNumber(), 100);
    QCOMPARE(log->calls.size(), 100u);
    for (std::size_t i = 0; i < log->calls.size(); ++i)
        QCOMPARE(log->calls[i], (Call{Create, static_cast<std::int32_t>(i + 1), 10}));
}

void TestBuilderWindow::countsOnFromWhatTheComponentWrote()
{
    log->onCreate = [](std::int32_t &fileNumber, std::int32_t &barCount) {
        if (fileNumber == 1) {
            fileNumber = 40;
            barCount = 12;
        }
    };
    build(QStringLiteral("10"));
    QCOMPARE(notifier.messages, QList<Message>{report(40, 12)});
    QCOMPARE(child<QLabel>("lblFileNumber")->text(), QStringLiteral("41"));
    QCOMPARE(window->barCount(), 12);
    build(QStringLiteral("10"));
    QCOMPARE(log->calls.back(), (Call{Create, 41, 10}));

    // 99 written back means the file just made counts as number 99: one more build to the limit.
    log->onCreate = [](std::int32_t &fileNumber, std::int32_t &) { fileNumber = 99; };
    build(QStringLiteral("10"));
    QCOMPARE(window->nextFileNumber(), 100);
    log->onCreate = nullptr;
    build(QStringLiteral("10"));
    QVERIFY(!child<QPushButton>("cmdBuild")->isEnabled());

    // A number with no successor is reported, not wrapped around.
    init();
    log->onCreate = [](std::int32_t &fileNumber, std::int32_t &) {
        fileNumber = std::numeric_limits<std::int32_t>::max();
    };
    build(QStringLiteral("10"));
    QCOMPARE(notifier.messages.size(), 2);
    QVERIFY(notifier.messages.last().warning);
    QVERIFY(notifier.messages.last().text.contains(QStringLiteral("2147483647")));
    QCOMPARE(window->nextFileNumber(), std::numeric_limits<std::int32_t>::max());
    // Spares the release a walk through every 32-bit number.
    log->onClose = [](std::int32_t &fileNumber) {
        fileNumber = std::numeric_limits<std::int32_t>::max();
    };
}

void TestBuilderWindow::saysWhatEachControlIsForToAScreenReader()
{
    // What assistive technology is told, through Qt's accessibility interfaces.
    const auto spoken = [this](const char *name, QAccessible::Text text) {
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(child<QWidget>(name));
        return face ? face->text(text) : QString();
    };
    QAccessibleInterface *frame = QAccessible::queryAccessibleInterface(window.get());
    QCOMPARE(frame->role(), QAccessible::Window);
    QCOMPARE(frame->text(QAccessible::Name), builderTitle);
    QCOMPARE(spoken("txtSize", QAccessible::Name), QStringLiteral("Number of Bars"));
    QCOMPARE(spoken("lblFileNumber", QAccessible::Name), QStringLiteral("Next File Number 1"));
    QCOMPARE(spoken("cmdBuild", QAccessible::Name), QStringLiteral("Build"));
    for (const char *name : {"txtSize", "lblFileNumber", "cmdBuild"})
        QVERIFY2(!spoken(name, QAccessible::Description).isEmpty(), name);

    build(QStringLiteral("10"));
    QCOMPARE(spoken("lblFileNumber", QAccessible::Name), QStringLiteral("Next File Number 2"));
}

void TestBuilderWindow::drawsTheBannerAtTheScreensScale()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QPixmap grab = window->grab();
    const qreal scale = grab.devicePixelRatio();
    QCOMPARE(grab.size(), QSize(267, 204) * scale);
    grab.save(scale > 1.0 ? QStringLiteral("screenshot@2x.png") : QStringLiteral("screenshot.png"));

    // The title art, pixel for pixel from the picture made for this scale, above the controls.
    const QImage shot = grab.toImage().convertToFormat(QImage::Format_RGB32);
    const QString art =
        QStringLiteral(QUELM_RESOURCES_DIR) +
        (scale > 1.0 ? QStringLiteral("/banner@2x.png") : QStringLiteral("/banner.png"));
    const QImage banner = QImage(art).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(banner.size(), QSize(270, 202) * scale);
    const int artRows = static_cast<int>(140 * scale);
    for (int y = 0; y < artRows; ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            if (shot.pixel(x, y) != banner.pixel(x, y))
                QFAIL(qPrintable(QStringLiteral("differs at %1,%2").arg(x).arg(y)));
        }
    }
    // The navy strip below the banner.
    for (int x = 0; x < shot.width(); x += 7)
        QCOMPARE(QColor(shot.pixel(x, shot.height() - 1)), QColor(0, 0, 128));
}

void TestBuilderWindow::showsRealMessageBoxes_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");

    QTest::newRow("report") << "10" << int(QMessageBox::Information) << "File 1  Bars 10"
                            << "File 1 has been created and is ready to take 10 bars of data.";
    QTest::newRow("failure") << "abc" << int(QMessageBox::Warning) << "Quelm File Builder"
                             << "File 1 was not built: the number of bars could not be read.\n"
                                "\"abc\" is not a number.";
}

void TestBuilderWindow::showsRealMessageBoxes()
{
    QFETCH(QString, typed);
    QFETCH(int, icon);
    QFETCH(QString, title);
    QFETCH(QString, text);

    quelm::MessageBoxNotifier boxes;
    frmQuelm real(std::make_unique<RecordingComponent>(log), boxes);
    boxes.setParentWindow(&real);
    real.show();
    QVERIFY(QTest::qWaitForWindowExposed(&real));
    real.findChild<QLineEdit *>(QStringLiteral("txtSize"))->setText(typed);
    // Another window has the focus: the box still belongs to the window it blocks.
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));

    bool checked = false;
    whenBoxOpens([&](QMessageBox *box) {
        checked = true;
        QCOMPARE(int(box->icon()), icon);
        QCOMPARE(box->windowTitle(), title);
        QCOMPARE(box->text(), text);
        QCOMPARE(box->buttons().size(), 1);
        QCOMPARE(box->standardButtons(), QMessageBox::Ok);
        QVERIFY(box->isModal());
        QCOMPARE(box->parentWidget(), &real);
    });
    real.cmdBuild_Click();
    QVERIFY(checked);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

QTEST_MAIN(TestBuilderWindow)
#include "tst_frmquelm.moc"
