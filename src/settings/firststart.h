#pragma once

#include "settings/applysettings.h"
#include "settings/settingsrecords.h"

#include <QString>

// The settings a newcomer starts with. A folder that holds none of ACSet.txt, PROTcol.txt
// and SOUCHICMD.txt gets the settings dialog's defaults, byte for byte what 既定に設定
// followed by OK writes, so that the first 開始 already sends "99.99" once a second.
// With an instrument profile in force the profile is the instrument: the defaults then
// answer on each receive and have no patterns, so nothing of the dialog's sample instrument
// is mixed into the profile's answers; the port settings are the dialog's defaults alike.
// ACSet2.txt is not among them: LoadShowAtStartup creates it when it is missing.
namespace FirstStart {

// True when the folder holds none of the three files. One of them alone is a user's
// setting, kept as it is.
bool isFirstStart(const QString &appFolder);

// The port part of the defaults, for a caller that tries the port before it writes.
CommSettings defaultComm();

// The form the defaults are written from.
SettingsForm defaultForm(bool profileInForce);

// Writes the three files as one change; on failure error names the file and the reason.
bool writeDefaults(const QString &appFolder, bool profileInForce, QString *error);

} // namespace FirstStart
