#pragma once

#include "settings/settingsrecords.h"
#include "settings/settingstexts.h"
#include "text/tokencodec.h"

#include <QString>
#include <QStringList>

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
    // The fields of SOUCHICMD.txt whose bytes are not what PROTcol.txt's texts convert to.
    // The line keeps SOUCHICMD.txt's bytes; the user should learn that the two disagree.
    QStringList commandFieldsDiffering;
};

// Reads ACSet.txt, sets up and opens the port with receive events off, then reads
// PROTcol.txt and SOUCHICMD.txt. Every step is tried on its own. Both text files are code
// page 932 unless they start with a UTF-8 byte-order mark; SOUCHICMD.txt's bytes then are
// converted to code page 932 too. Fields SOUCHICMD.txt lacks, or all of them when it is
// missing, are converted from PROTcol.txt's texts, as OK would have written them.
LoadSettingsReport LoadSettings(SettingsRecords &records, SerialComm &port,
                                const QString &appFolder);

// Reads ACSet2.txt's first field into records.ShowAtStartup, creating the file with "1"
// first when it is missing. Returns false when the file could not be read.
bool LoadShowAtStartup(SettingsRecords &records, const QString &appFolder);

// The eleven texts of the protocol settings, as the converter takes them.
mdlSUCMD::SettingsTexts settingsTextsOf(const ProtocolSettings &protocol);
// The name of a field of SOUCHICMD.txt, in file order from 0, as the log names it.
QString commandFieldName(int field);

// A settings number as the program reads it: blanks around it allowed, nothing else.
std::optional<double> settingsNumber(const QString &text);
// The output type "0": continuous output.
bool isContinuousOutput(const ProtocolSettings &protocol);
// The interval in seconds; nothing for a text that is no number (NaN included).
std::optional<double> intervalSeconds(const ProtocolSettings &protocol);
