#pragma once

#include <QString>

namespace ProgramVersion {

// "Kalo_RS232Cシミュレータ Ver 1.01 Version.1.0.1": the version dialog's line, which the
// command line's --version prints as well.
QString line();
// "1.00.0001", the file version of the executable.
QString fileVersion();

} // namespace ProgramVersion
