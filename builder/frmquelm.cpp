#include "frmquelm.h"

#include "conversions.h"
#include "portablepixmap.h"

#include <quelm/datafileerror.h>

#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QFontMetricsF>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmapCache>
#include <QPushButton>
#include <QResource>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <limits>

namespace quelm {
namespace {

// Fixed product texts: shown exactly as they stand, in every language.
const QString windowTitleText = QStringLiteral("Quelm File Builder");
const QString defaultBars = QStringLiteral("10");
constexpr std::int32_t fileLimit = 100;

// Ends a build that cannot go on, with a sentence for the user.
struct BuildStopped
{
    QString reason;
};

// Assistive technology is told that the window is a window; Qt would call a plain QWidget a
// client area, which screen readers skip.
QAccessibleInterface *windowAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String(frmQuelm::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}

QLabel *makeLabel(QWidget *parent, const QString &name, const QString &text, const QRect &rect,
                  const QColor &colour)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(rect);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

// The captions' places were made for a smaller dialog font than today's defaults. Rather than
// cut a caption off, the captions get the largest size of the default font at which each fits
// its place: one size for all, so that they match, found by scaling instead of by trying size
// after size, since every size tried costs a font load.
void fitCaptions(std::initializer_list<QLabel *> labels)
{
    QFont font = (*labels.begin())->font();
    const auto overflow = [&] {
        qreal largest = 0.0;
        for (const QLabel *label : labels) {
            const qreal advance = QFontMetricsF(font).horizontalAdvance(label->text());
            largest = std::max(largest, advance / label->width());
        }
        return largest;
    };
    qreal ratio = overflow();
    if (ratio <= 1.0)
        return;
    for (int attempt = 0; attempt < 3 && ratio > 1.0; ++attempt) {
        if (font.pointSizeF() > 0)
            font.setPointSizeF(std::max(6.0, std::floor(font.pointSizeF() / ratio * 4.0) / 4.0));
        else
            font.setPixelSize(std::max(8, static_cast<int>(font.pixelSize() / ratio)));
        ratio = overflow();
    }
    for (QLabel *label : labels)
        label->setFont(font);
}

QPixmap picture(const QString &resource)
{
    return QPixmap::fromImage(readPortablePixmap(QResource(resource).uncompressedData()));
}

// The program's icon, shared by every window so that its pictures are decoded once. The desktop
// takes its larger sizes from the installed icon theme.
void useProgramIcon()
{
    if (!QApplication::windowIcon().isNull())
        return;
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addPixmap(picture(QStringLiteral(":/icons/quelm-%1.ppm").arg(size)));
    QApplication::setWindowIcon(icon);
}

// The banner for a screen scale: the 2x picture above 1x. Decoded on first use only and kept
// in Qt's pixmap cache, so a window pays for neither the picture it does not show nor a second
// decoding.
QPixmap banner(qreal scale)
{
    const bool sharp = scale > 1.0;
    const QString file = sharp ? QStringLiteral(":/banner@2x.ppm") : QStringLiteral(":/banner.ppm");
    QPixmap pixmap;
    if (!QPixmapCache::find(file, &pixmap)) {
        pixmap = picture(file);
        pixmap.setDevicePixelRatio(sharp ? 2.0 : 1.0);
        QPixmapCache::insert(file, pixmap);
    }
    return pixmap;
}

} // namespace

frmQuelm::frmQuelm(std::unique_ptr<DataFileComponent> component, Notifier &notifier,
                   QWidget *parent)
    : QWidget(parent), Quelm1(std::move(component)), m_notifier(notifier)
{
    setObjectName(QStringLiteral("frmQuelm"));
    QAccessible::installFactory(windowAccessible);
    setWindowTitle(windowTitleText);
    useProgramIcon();
    setFixedSize(267, 204);
    setAttribute(Qt::WA_OpaquePaintEvent);

    // The captions are fixed product texts: shown exactly as they stand, in every language.
    const QColor yellow(255, 255, 0);
    const QColor cyan(0, 255, 255);
    Label1 = makeLabel(this, QStringLiteral("Label1"), QStringLiteral("Next File Number"),
                       QRect(20, 144, 89, 17), yellow);
    lblFileNumber = makeLabel(this, QStringLiteral("lblFileNumber"), QStringLiteral("1"),
                              QRect(112, 144, 57, 17), cyan);
    Label2 = makeLabel(this, QStringLiteral("Label2"), QStringLiteral("Number of Bars"),
                       QRect(20, 168, 81, 17), yellow);
    fitCaptions({Label1, Label2});

    txtSize = new QLineEdit(defaultBars, this);
    txtSize->setObjectName(QStringLiteral("txtSize"));
    txtSize->setGeometry(112, 168, 57, 21);
    // One character more than a number may have: a paste too long for the box arrives cut to
    // this length and is refused as too long, never read as the shorter number it became.
    txtSize->setMaxLength(static_cast<int>(conversions::longestText + 1));
    Label2->setBuddy(txtSize);

    cmdBuild = new QPushButton(QStringLiteral("Build"), this);
    cmdBuild->setObjectName(QStringLiteral("cmdBuild"));
    cmdBuild->setGeometry(176, 168, 65, 21);
    // Enter in the box and Escape must not build.
    cmdBuild->setAutoDefault(false);
    cmdBuild->setDefault(false);

    // A screen reader speaks the captions the controls show.
    txtSize->setAccessibleName(Label2->text());
    txtSize->setAccessibleDescription(
        tr("How many bars the next data file is made ready to take; empty or 0 means 10."));
    lblFileNumber->setAccessibleDescription(tr("The number that the next data file will get."));
    cmdBuild->setAccessibleName(cmdBuild->text());
    cmdBuild->setAccessibleDescription(
        tr("Builds the next numbered data file with the number of bars in the box."));
    showFileNumber(lblFileNumber->text());

    setTabOrder(cmdBuild, txtSize);
    cmdBuild->setFocus();
    connect(cmdBuild, &QPushButton::clicked, this, &frmQuelm::cmdBuild_Click);
    // When the Windows session ends, Qt says so only through aboutToQuit, and Windows may end
    // the process as soon as that returns: no close event comes, and a close asked for while a
    // report box is open would wait for the box. So the files are released right then.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &frmQuelm::Form_Unload);

    Form_Load();
}

frmQuelm::~frmQuelm()
{
    Form_Unload();
}

void frmQuelm::Form_Load()
{
    lngFileNumber = 1;
}

void frmQuelm::cmdBuild_Click()
{
    m_building = true;
    const std::int32_t fileNumber = lngFileNumber;
    QString failure;
    try {
        build();
    } catch (const ConversionError &error) {
        failure = tr("File %1 was not built: the number of bars could not be read.\n%2")
                      .arg(fileNumber)
                      .arg(error.message());
    } catch (const DataFileError &error) {
        // The component's sentence says what failed, on which file and why.
        failure = QString::fromUtf8(error.what());
    } catch (const BuildStopped &stop) {
        failure = tr("The build of file %1 stopped.\n%2").arg(fileNumber).arg(stop.reason);
    } catch (const std::exception &error) {
        failure = tr("The build of file %1 stopped.\n%2")
                      .arg(fileNumber)
                      .arg(QString::fromUtf8(error.what()));
    }
    if (!failure.isEmpty())
        m_notifier.warning(windowTitleText, failure);
    m_building = false;
    // A close that came in while a box of this build was open takes effect now.
    if (m_closePending)
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void frmQuelm::build()
{
    if (txtSize->text().isEmpty())
        txtSize->setText(defaultBars);
    else if (conversions::textToDouble(txtSize->text()) == 0.0)
        txtSize->setText(defaultBars);

    lngBars = conversions::textToInt32(txtSize->text());

    Quelm1->CreateDataFile(lngFileNumber, lngBars);

    // Built from the fields as the component left them. Fixed product texts: shown exactly as
    // they stand, in every language.
    const QString number = conversions::int32ToText(lngFileNumber);
    const QString bars = conversions::int32ToText(lngBars);
    m_notifier.information(QStringLiteral("File ") + number + QStringLiteral("  Bars ") + bars,
                           QStringLiteral("File ") + number +
                               QStringLiteral(" has been created and is ready to take ") + bars +
                               QStringLiteral(" bars of data."));

    if (lngFileNumber == std::numeric_limits<std::int32_t>::max())
        throw BuildStopped{
            tr("The data file component gave back file number %1, which has no successor.")
                .arg(lngFileNumber)};
    ++lngFileNumber;
    if (lngFileNumber == fileLimit + 1) {
        lngFileNumber = fileLimit;
        // Fixed product text: shown exactly as it stands, in every language.
        m_notifier.information(QStringLiteral("Max File Capacity."),
                               QStringLiteral("You can not build more than 100 files."));
        cmdBuild->setEnabled(false);
    } else {
        showFileNumber(conversions::int32ToText(lngFileNumber));
    }
}

void frmQuelm::showFileNumber(const QString &number)
{
    lblFileNumber->setText(number);
    lblFileNumber->setAccessibleName(Label1->text() + QLatin1Char(' ') + number);
}

void frmQuelm::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;

    QStringList failures;
    const std::int32_t last = lngFileNumber;
    for (std::int32_t i = 1; i <= last;) {
        const std::int32_t offered = i;
        try {
            Quelm1->CloseDataFile(i);
        } catch (const DataFileError &error) {
            failures << QString::fromUtf8(error.what());
        } catch (const std::exception &error) {
            failures << tr("File %1: %2").arg(offered).arg(QString::fromUtf8(error.what()));
        }
        // The component may have written into the counter; the loop goes on from there.
        if (i >= last)
            break;
        ++i;
    }
    if (failures.isEmpty())
        return;

    m_releaseFailed = true;
    const QString text =
        tr("Some data files of this run could not be closed:\n%1").arg(failures.join(u'\n'));
    std::fprintf(stderr, "quelm: %s\n", qPrintable(text));
    m_notifier.warning(windowTitleText, text);
}

void frmQuelm::endRun()
{
    m_notifier.dismiss();
    close();
}

void frmQuelm::closeEvent(QCloseEvent *event)
{
    if (m_building) {
        m_closePending = true;
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void frmQuelm::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 128));
    // Between 1x and 2x (150 %, say) the sharper picture is scaled down.
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(0, 0, banner(devicePixelRatioF()));
}

} // namespace quelm
