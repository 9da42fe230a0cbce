#include "app/programversion.h"

#include "version.h"

namespace ProgramVersion {

namespace {
QString buildVersion()
{
    return QStringLiteral("%1.%2.%3")
            .arg(KALO_VERSION_MAJOR)
            .arg(KALO_VERSION_MINOR)
            .arg(KALO_VERSION_REVISION);
}
} // namespace

QString aboutLine()
{
    return QStringLiteral(KALO_PRODUCT_NAME " " KALO_PRODUCT_RELEASE " Version.") + buildVersion();
}

QString commandLine()
{
    return QStringLiteral(KALO_PRODUCT_NAME " ") + buildVersion();
}

QString fileVersion()
{
    return QStringLiteral(KALO_FILE_VERSION);
}

} // namespace ProgramVersion
