#include "firststart.h"

#include "applysettings.h"
#include "appfolder.h"
#include "settingsfiles.h"
#include "tokencodec.h"

#include <QFileInfo>

namespace FirstStart {

bool isFirstStart(const QString &appFolder)
{
    for (const QString &name : { SettingsFileNames::comm(), SettingsFileNames::protocol(),
                                 SettingsFileNames::commands() }) {
        // A dangling link or an unreadable file is still the user's.
        const QFileInfo info(AppFolder::filePath(appFolder, name));
        if (info.exists() || info.isSymLink())
            return false;
    }
    return true;
}

CommSettings defaultComm()
{
    const SettingsForm form = SettingsForm::defaults();
    CommSettings comm;
    comm.PortNumber = form.comm[0];
    comm.BaudRate = form.comm[1];
    comm.Parity = form.comm[2];
    comm.DataBits = form.comm[3];
    comm.StopBits = form.comm[4];
    return comm;
}

bool writeDefaults(const QString &appFolder, QString *error)
{
    const SettingsForm form = SettingsForm::defaults();
    // A first start has no stored texts that an empty box would keep.
    ProtocolSettings protocol;
    protocol.OutputType = form.continuousOutput ? QStringLiteral("0") : QStringLiteral("1");
    protocol.IntervalSeconds = form.interval;
    protocol.ContinuousOutputText = form.texts.continuousOutput;
    protocol.DeviceCommandText = form.texts.deviceCommands;
    protocol.OutputDataText = form.texts.outputData;
    const CommSettings comm = defaultComm();

    QList<QByteArray> commFields, protocolFields;
    if (!SettingsFiles::encodeFields(SettingsFiles::constFieldsOf(comm), &commFields)
        || !SettingsFiles::encodeFields(SettingsFiles::constFieldsOf(protocol), &protocolFields)) {
        if (error)
            *error = QStringLiteral("the default settings do not fit code page 932");
        return false;
    }
    const auto path = [&](const QString &name) { return AppFolder::filePath(appFolder, name); };
    return SettingsFiles::writeRecordFiles(
            {
                    { path(SettingsFileNames::comm()), commFields },
                    { path(SettingsFileNames::commands()),
                      SettingsFiles::fieldValues(mdlSUCMD::ConvertSettingsTexts(form.texts)) },
                    { path(SettingsFileNames::protocol()), protocolFields },
            },
            error);
}

} // namespace FirstStart
