#pragma once

#include "settingsrecords.h"

#include <QString>

class SerialComm;

// What LoadSettings could not do. Loading itself goes on past every failure and shows
// nothing; callers decide what, if anything, the user should learn.
struct LoadSettingsReport
{
    bool commFileRead = false;
    bool protocolFileRead = false;
    bool commandFileRead = false;
    // Empty when the port is open after loading; else the device and the system's reason.
    QString portError;
};

// Reads ACSet.txt, sets up and opens the port with receive events off, then reads
// PROTcol.txt and SOUCHICMD.txt. Every step is tried on its own.
LoadSettingsReport LoadSettings(SettingsRecords &records, SerialComm &port,
                                const QString &appFolder);

// Reads ACSet2.txt's first field into records.ShowAtStartup, creating the file with "1"
// first when it is missing. Returns false when the file could not be read.
bool LoadShowAtStartup(SettingsRecords &records, const QString &appFolder);

// A settings number as the program reads it: blanks around it allowed, nothing else.
std::optional<double> settingsNumber(const QString &text);
