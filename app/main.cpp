#include "dataroot.h"
#include "frmquelm.h"
#include "messageboxnotifier.h"

#include <quelm/datafileerror.h>
#include <quelm/datafilestore.h>

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <memory>

#ifdef Q_OS_UNIX
#include "signalcloser.h"
#endif

namespace {

// Without a display Qt aborts with a long message; one sentence serves the user better.
bool displayAvailable()
{
#ifdef Q_OS_LINUX
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
#else
    return true;
#endif
}

} // namespace

int main(int argc, char *argv[])
{
    if (!displayAvailable()) {
        std::fputs("quelm: no graphical display is available (DISPLAY is not set); run it on a "
                   "desktop, or under a virtual one with: xvfb-run make run\n",
                   stderr);
        return EXIT_FAILURE;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quelm"));
    QApplication::setApplicationVersion(QStringLiteral(QUELM_VERSION_TEXT));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.quelm.Quelm"));

    std::unique_ptr<quelm::DataFileStore> store;
    try {
        store = std::make_unique<quelm::DataFileStore>(quelm::defaultDataRoot());
    } catch (const quelm::DataFileError &error) {
        const QString text = QString::fromStdString(error.what());
        std::fprintf(stderr, "quelm: %s\n", qPrintable(text));
        QMessageBox::warning(nullptr, QStringLiteral("Quelm File Builder"), text);
        return EXIT_FAILURE;
    }

    quelm::MessageBoxNotifier notifier;
    quelm::frmQuelm window(std::move(store), notifier);
    notifier.setParentWindow(&window);
#ifdef Q_OS_UNIX
    quelm::SignalCloser closer(window);
#endif
    window.show();
    const int status = QApplication::exec();
    // The loop can also end without a close (QCoreApplication::exit); release the files then.
    window.close();
    return window.releaseFailed() ? EXIT_FAILURE : status;
}
