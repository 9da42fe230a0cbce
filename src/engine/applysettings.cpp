#include "applysettings.h"

#include "ansicodec.h"
#include "appfolder.h"
#include "serialcomm.h"
#include "settingsfiles.h"

SettingsForm SettingsForm::defaults()
{
    SettingsForm form;
    form.continuousOutput = true;
    form.interval = QStringLiteral("1");
    form.texts.continuousOutput = QStringLiteral("99.99");
    form.texts.deviceCommands = { QStringLiteral("ABC+[CR]+[LF]"), QStringLiteral("[ACK]+ODF+[NCK]"),
                                  QString(), QString(), QString() };
    form.texts.outputData = { QStringLiteral("4569.12"), QStringLiteral("49.12cm"), QString(),
                              QString(), QString() };
    form.comm = { QStringLiteral("1"), QStringLiteral("9600"), QStringLiteral("N"),
                  QStringLiteral("8"), QStringLiteral("1") };
    return form;
}

std::optional<QString> findUnstorableText(const SettingsForm &form)
{
    QList<QPair<QString, QString>> fields;
    fields.append({ QStringLiteral("ｲﾝﾀｰﾊﾞﾙ"), form.interval });
    fields.append({ QStringLiteral("出力させたい文字列"), form.texts.continuousOutput });
    for (int i = 0; i < kPatternCount; ++i) {
        const QString pattern = QStringLiteral("ﾊﾟﾀｰﾝ%1 ").arg(i + 1);
        fields.append({ pattern + QStringLiteral("受信したい文字列"), form.texts.deviceCommands[size_t(i)] });
        fields.append({ pattern + QStringLiteral("出力させたい文字列"), form.texts.outputData[size_t(i)] });
    }
    for (const auto &[name, text] : fields) {
        if (text.contains(QLatin1Char('"')))
            return QStringLiteral("「%1」には \" を使えません。").arg(name);
        QByteArray bytes;
        QString unmappable;
        if (!Ansi::encode(text, &bytes, &unmappable))
            return QStringLiteral("「%1」の文字「%2」は保存できません (Shift-JIS にない文字です)。")
                    .arg(name, unmappable);
    }
    return std::nullopt;
}

ApplyResult ApplySettingsForm(const SettingsForm &form, SettingsRecords &records, SerialComm &port,
                              const QString &appFolder)
{
    ApplyResult result;
    const DeviceCommandTable commands = mdlSUCMD::ConvertSettingsTexts(form.texts);

    CommSettings comm;
    comm.PortNumber = form.comm[0];
    comm.BaudRate = form.comm[1];
    comm.Parity = form.comm[2];
    comm.DataBits = form.comm[3];
    comm.StopBits = form.comm[4];

    // An emptied box stores the empty text: the file, the converted bytes above, the wire
    // and the log then all say the same. Only an empty interval has a rule of its own.
    ProtocolSettings protocol;
    protocol.OutputType = form.continuousOutput ? QStringLiteral("0") : QStringLiteral("1");
    protocol.IntervalSeconds = form.interval.isEmpty() ? QStringLiteral("1") : form.interval;
    protocol.ContinuousOutputText = form.texts.continuousOutput;
    for (size_t i = 0; i < size_t(kPatternCount); ++i) {
        protocol.DeviceCommandText[i] = form.texts.deviceCommands[i];
        protocol.OutputDataText[i] = form.texts.outputData[i];
    }
    const QString showAtStartup = form.showAtStartup ? QStringLiteral("1") : QStringLiteral("0");

    QList<QByteArray> commFields, protocolFields, startupFields;
    QString unmappable;
    if (!SettingsFiles::encodeFields(SettingsFiles::constFieldsOf(comm), &commFields, &unmappable)
        || !SettingsFiles::encodeFields(SettingsFiles::constFieldsOf(protocol), &protocolFields,
                                        &unmappable)) {
        result.problem = QStringLiteral("「%1」は保存できません。").arg(unmappable);
        return result;
    }
    startupFields.append(showAtStartup.toLatin1());

    const auto path = [&](const QString &name) { return AppFolder::filePath(appFolder, name); };
    const QList<SettingsFiles::RecordFile> files {
        { path(SettingsFileNames::comm()), commFields },
        { path(SettingsFileNames::commands()), SettingsFiles::fieldValues(commands) },
        { path(SettingsFileNames::protocol()), protocolFields },
        { path(SettingsFileNames::startup()), startupFields },
    };
    if (!SettingsFiles::writeRecordFiles(files, &result.problem))
        return result;

    // The open port keeps its number until it is closed: close it so the new one opens.
    bool isNumber = false;
    const int portNumber = comm.PortNumber.trimmed().toInt(&isNumber);
    if (isNumber && port.portOpen() && portNumber != port.commPort())
        port.setPortOpen(false);
    records.comm = comm;
    records.protocol = protocol;
    records.commands = commands;
    records.ShowAtStartup = showAtStartup;
    result.load = LoadSettings(records, port, appFolder);
    result.ok = true;
    return result;
}
