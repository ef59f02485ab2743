#include "dataroot.h"

#include <QStandardPaths>
#include <QString>

namespace quelm {

std::filesystem::path defaultDataRoot()
{
    // GenericDataLocation does not depend on the application's own names.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return std::filesystem::path(data.toStdU16String()) / "Quelm";
}

} // namespace quelm
