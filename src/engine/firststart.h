#pragma once

#include "settingsrecords.h"

#include <QString>

// The settings a newcomer starts with. A folder that holds none of ACSet.txt, PROTcol.txt
// and SOUCHICMD.txt gets the settings dialog's defaults, byte for byte what 既定に設定
// followed by OK writes, so that the first 開始 already sends "99.99" once a second.
// ACSet2.txt is not among them: LoadShowAtStartup creates it when it is missing.
namespace FirstStart {

// True when the folder holds none of the three files. One of them alone is a user's
// setting, kept as it is.
bool isFirstStart(const QString &appFolder);

// The port part of the defaults, for a caller that tries the port before it writes.
CommSettings defaultComm();

// Writes the three files as one change; on failure error names the file and the reason.
bool writeDefaults(const QString &appFolder, QString *error);

} // namespace FirstStart
