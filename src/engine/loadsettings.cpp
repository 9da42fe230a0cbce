#include "loadsettings.h"

#include "appfolder.h"
#include "ansicodec.h"
#include "recordformat.h"
#include "serialcomm.h"
#include "settingsfiles.h"

#include <QFileInfo>
#include <QLocale>

std::optional<double> settingsNumber(const QString &text)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok)
        return std::nullopt;
    return value;
}

LoadSettingsReport LoadSettings(SettingsRecords &records, SerialComm &port, const QString &appFolder)
{
    LoadSettingsReport report;
    port.setAppFolder(appFolder);

    if (const auto data = SettingsFiles::readFile(AppFolder::filePath(appFolder, SettingsFileNames::comm()))) {
        report.commFileRead = true;
        if (SettingsFiles::readTextRecords(*data, SettingsFiles::fieldsOf(records.comm), false) > 0)
            records.CommSettingsString = records.comm.settingsString();
    }

    bool portNumberOk = false;
    const int portNumber = records.comm.PortNumber.trimmed().toInt(&portNumberOk);
    if (portNumberOk)
        port.setCommPort(portNumber);
    if (!records.CommSettingsString.isEmpty())
        port.setSettings(records.CommSettingsString);
    // After a settings change the port is already open: the open is refused, as intended.
    if (!port.portOpen() && !port.setPortOpen(true))
        report.portError = port.lastError();
    port.clearInBuffer();
    port.setRThreshold(0);

    if (const auto data = SettingsFiles::readFile(AppFolder::filePath(appFolder, SettingsFileNames::protocol()))) {
        report.protocolFileRead = true;
        SettingsFiles::readTextRecords(*data, SettingsFiles::fieldsOf(records.protocol), false);
    }

    if (const auto data = SettingsFiles::readFile(AppFolder::filePath(appFolder, SettingsFileNames::commands()))) {
        report.commandFileRead = true;
        RecordFormat::Reader reader(SettingsFiles::withoutByteOrderMark(*data));
        reader.readFields(SettingsFiles::fieldsOf(records.commands));
    }
    return report;
}

bool LoadShowAtStartup(SettingsRecords &records, const QString &appFolder)
{
    const QString path = AppFolder::filePath(appFolder, SettingsFileNames::startup());
    if (!QFileInfo::exists(path))
        SettingsFiles::writeRecordFile(path, { QByteArrayLiteral("1") }, nullptr);
    const auto data = SettingsFiles::readFile(path);
    if (!data)
        return false;
    QString value;
    if (SettingsFiles::readTextRecords(*data, { &value }, true) > 0)
        records.ShowAtStartup = value;
    return true;
}
