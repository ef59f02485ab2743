#include "dataroot.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <QStandardPaths>
#include <QString>
#else
#include <QByteArray>
#include <QDir>
#include <QFile>
#endif

namespace quelm {

#ifdef Q_OS_WIN

std::filesystem::path defaultDataRoot()
{
    // Windows names are UTF-16, which QString holds whole. GenericDataLocation does not depend
    // on the application's own names.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return std::filesystem::path(data.toStdU16String()) / "Quelm";
}

#else

namespace {

// The system's bytes as they are: a name need not be valid UTF-8, and a decoded one would name
// another folder.
std::filesystem::path bytesPath(const QByteArray &bytes)
{
    return std::filesystem::path(bytes.toStdString());
}

} // namespace

std::filesystem::path defaultDataRoot()
{
    // The XDG base directory rules: a relative XDG_DATA_HOME is invalid and is ignored, where
    // QStandardPaths would take it from the current folder.
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    if (dataHome.startsWith('/')) {
        return bytesPath(dataHome) / "Quelm";
    }
    QByteArray home = qgetenv("HOME");
    if (!home.startsWith('/')) {
        home = QFile::encodeName(QDir::homePath());
    }
    return bytesPath(home) / ".local" / "share" / "Quelm";
}

#endif

} // namespace quelm
