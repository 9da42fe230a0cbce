#include "app/programversion.h"

#include "version.h"

namespace ProgramVersion {

QString line()
{
    return QStringLiteral(KALO_PRODUCT_NAME " Version.%1.%2.%3")
            .arg(KALO_VERSION_MAJOR)
            .arg(KALO_VERSION_MINOR)
            .arg(KALO_VERSION_REVISION);
}

QString fileVersion()
{
    return QStringLiteral(KALO_FILE_VERSION);
}

} // namespace ProgramVersion
