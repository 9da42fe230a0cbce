#pragma once

#include <QString>

namespace ProgramVersion {

// "Kalo_RS232Cシミュレータ Ver 1.01 Version.1.0.1": the version dialog's line.
QString aboutLine();
// "Kalo_RS232Cシミュレータ 1.0.1": what --version prints, the product and the build's version
// once each.
QString commandLine();
// "1.00.0001", the file version of the executable.
QString fileVersion();

} // namespace ProgramVersion
