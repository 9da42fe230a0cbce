#include "settings/loadsettings.h"

#include "platform/appfolder.h"
#include "serial/serialcomm.h"
#include "settings/recordformat.h"
#include "settings/settingsfiles.h"
#include "settings/settingstexts.h"
#include "text/ansicodec.h"
#include "text/tokencodec.h"

#include <QFileInfo>
#include <QLocale>

#include <cmath>

std::optional<double> settingsNumber(const QString &text)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok)
        return std::nullopt;
    return value;
}

bool isContinuousOutput(const ProtocolSettings &protocol)
{
    const std::optional<double> type = settingsNumber(protocol.OutputType);
    return type && *type == 0;
}

std::optional<double> intervalSeconds(const ProtocolSettings &protocol)
{
    const std::optional<double> seconds = settingsNumber(protocol.IntervalSeconds);
    if (seconds && !std::isnan(*seconds))
        return seconds;
    return std::nullopt;
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

    const DeviceCommandTable converted = mdlSUCMD::ConvertSettingsTexts(settingsTextsOf(records.protocol));
    const QList<QByteArray> convertedFields = SettingsFiles::fieldValues(converted);
    const QList<QByteArray *> fields = SettingsFiles::fieldsOf(records.commands);
    QList<QByteArray> fromFile;
    if (const auto data = SettingsFiles::readFile(AppFolder::filePath(appFolder, SettingsFileNames::commands()))) {
        report.commandFileRead = true;
        const bool utf8 = data->startsWith("\xEF\xBB\xBF");
        RecordFormat::Reader reader(SettingsFiles::withoutByteOrderMark(*data));
        QByteArray value;
        while (fromFile.size() < fields.size() && reader.readField(&value))
            fromFile.append(utf8 ? Ansi::encodeLossy(QString::fromUtf8(value)) : value);
    }
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i >= fromFile.size()) {
            *fields[i] = convertedFields.at(i);
            continue;
        }
        *fields[i] = fromFile.at(i);
        if (report.protocolFileRead && fromFile.at(i) != convertedFields.at(i))
            report.commandFieldsDiffering.append(commandFieldName(int(i)));
    }
    return report;
}

mdlSUCMD::SettingsTexts settingsTextsOf(const ProtocolSettings &protocol)
{
    mdlSUCMD::SettingsTexts texts;
    texts.continuousOutput = protocol.ContinuousOutputText;
    for (int p = 0; p < kPatternCount; ++p) {
        texts.deviceCommands[size_t(p)] = protocol.DeviceCommandText[size_t(p)];
        texts.outputData[size_t(p)] = protocol.OutputDataText[size_t(p)];
    }
    return texts;
}

QString commandFieldName(int field)
{
    if (field == 0)
        return QStringLiteral("連続出力データ");
    if (field <= kPatternCount)
        return QStringLiteral("装置コマンド%1").arg(field);
    return QStringLiteral("出力データ%1").arg(field - kPatternCount);
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
