#pragma once

#include "settings/loadsettings.h"
#include "settings/settingsfiles.h"
#include "settings/settingsrecords.h"
#include "settings/settingstexts.h"
#include "text/tokencodec.h"

#include <QString>

#include <array>
#include <optional>

class SerialComm;

// What the settings form shows, as plain values.
struct SettingsForm
{
    bool continuousOutput = true;
    QString interval;
    mdlSUCMD::SettingsTexts texts;
    // Port number, speed, parity, data bits, stop bits; empty where nothing is selected.
    std::array<QString, 5> comm;
    bool showAtStartup = true;

    static SettingsForm defaults();

    // The records the form stands for. An emptied box stands for the empty text; only an
    // empty interval has a rule of its own ("1").
    CommSettings commSettings() const;
    ProtocolSettings protocolSettings() const;
    // ACSet.txt, SOUCHICMD.txt and PROTcol.txt as they are written for this form. False, with
    // the character named in unmappable, when a text does not fit code page 932.
    bool recordFiles(const QString &appFolder, QList<SettingsFiles::RecordFile> *files,
                     QString *unmappable) const;
};

// A text the files cannot hold: a double quote (the record format has no escape) or a
// character outside code page 932. Names the field and the character; nothing if all fit.
std::optional<QString> findUnstorableText(const SettingsForm &form);

struct ApplyResult
{
    bool ok = false;
    QString problem; // the file and the system's reason when writing failed
    LoadSettingsReport load;
};

// Stores and applies a confirmed form: converts the texts, writes ACSet.txt, SOUCHICMD.txt,
// PROTcol.txt and ACSet2.txt as one change, then loads the settings again. A new port
// number closes the port so that the new one is opened. When a file cannot be written,
// nothing is changed: not the files, not the records, not the port.
ApplyResult ApplySettingsForm(const SettingsForm &form, SettingsRecords &records, SerialComm &port,
                              const QString &appFolder);
