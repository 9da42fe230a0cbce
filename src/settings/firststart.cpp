#include "settings/firststart.h"

#include "platform/appfolder.h"
#include "settings/applysettings.h"
#include "settings/settingsfiles.h"
#include "text/tokencodec.h"

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
    return SettingsForm::defaults().commSettings();
}

SettingsForm defaultForm(bool profileInForce)
{
    SettingsForm form = SettingsForm::defaults();
    if (profileInForce) {
        form.continuousOutput = false;
        form.texts.deviceCommands.fill(QString());
        form.texts.outputData.fill(QString());
    }
    return form;
}

bool writeDefaults(const QString &appFolder, bool profileInForce, QString *error)
{
    QList<SettingsFiles::RecordFile> files;
    if (!defaultForm(profileInForce).recordFiles(appFolder, &files, nullptr)) {
        if (error)
            *error = QStringLiteral("the default settings do not fit code page 932");
        return false;
    }
    return SettingsFiles::writeRecordFiles(files, error);
}

} // namespace FirstStart
