#include "settings/applysettings.h"

#include "platform/appfolder.h"
#include "serial/serialcomm.h"
#include "settings/settingsfiles.h"
#include "text/ansicodec.h"

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

CommSettings SettingsForm::commSettings() const
{
    CommSettings s;
    s.PortNumber = comm[0];
    s.BaudRate = comm[1];
    s.Parity = comm[2];
    s.DataBits = comm[3];
    s.StopBits = comm[4];
    return s;
}

// The file, the converted bytes, the wire and the log then all say the same.
ProtocolSettings SettingsForm::protocolSettings() const
{
    ProtocolSettings s;
    s.OutputType = continuousOutput ? QStringLiteral("0") : QStringLiteral("1");
    s.IntervalSeconds = interval.isEmpty() ? QStringLiteral("1") : interval;
    s.ContinuousOutputText = texts.continuousOutput;
    s.DeviceCommandText = texts.deviceCommands;
    s.OutputDataText = texts.outputData;
    return s;
}

bool SettingsForm::recordFiles(const QString &appFolder, QList<SettingsFiles::RecordFile> *files,
                               QString *unmappable) const
{
    QList<QByteArray> commFields, protocolFields;
    if (!SettingsFiles::encodeFields(SettingsFiles::constFieldsOf(commSettings()), &commFields, unmappable)
        || !SettingsFiles::encodeFields(SettingsFiles::constFieldsOf(protocolSettings()),
                                        &protocolFields, unmappable))
        return false;
    const auto path = [&](const QString &name) { return AppFolder::filePath(appFolder, name); };
    *files = {
        { path(SettingsFileNames::comm()), commFields },
        { path(SettingsFileNames::commands()),
          SettingsFiles::fieldValues(mdlSUCMD::ConvertSettingsTexts(texts)) },
        { path(SettingsFileNames::protocol()), protocolFields },
    };
    return true;
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
    // An interval that is no number of seconds would run the output loop without any wait.
    // Empty stays allowed: it is stored as "1".
    if (!form.interval.isEmpty()) {
        const std::optional<double> seconds = settingsNumber(form.interval);
        if (!seconds || !(*seconds >= 0))
            return QStringLiteral("「ｲﾝﾀｰﾊﾞﾙ」には 0 以上の秒数を入力してください (例: 1、0.5)。");
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
    const CommSettings comm = form.commSettings();
    const QString showAtStartup = form.showAtStartup ? QStringLiteral("1") : QStringLiteral("0");
    QList<SettingsFiles::RecordFile> files;
    QString unmappable;
    if (!form.recordFiles(appFolder, &files, &unmappable)) {
        result.problem = QStringLiteral("「%1」は保存できません。").arg(unmappable);
        return result;
    }
    files.append({ AppFolder::filePath(appFolder, SettingsFileNames::startup()),
                   { showAtStartup.toLatin1() } });
    if (!SettingsFiles::writeRecordFiles(files, &result.problem))
        return result;

    // The open port keeps its number until it is closed: close it so the new one opens.
    bool isNumber = false;
    const int portNumber = comm.PortNumber.trimmed().toInt(&isNumber);
    if (isNumber && port.portOpen() && portNumber != port.commPort())
        port.setPortOpen(false);
    records.comm = comm;
    records.protocol = form.protocolSettings();
    records.commands = mdlSUCMD::ConvertSettingsTexts(form.texts);
    records.ShowAtStartup = showAtStartup;
    result.load = LoadSettings(records, port, appFolder);
    result.ok = true;
    return result;
}
