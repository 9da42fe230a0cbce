#pragma once

#include "fakeservices.h"
#include "ptypair.h"
#include "settingsfolder.h"
#include "startup/frmsokutei.h"
#include "startup/startup.h"

#include <QPushButton>

#include <memory>

// The whole program started in-process on a settings folder, its port 1 wired to a pty
// and its desktop answered by the test.
struct StartedProgram
{
    PtyPair pty;
    SettingsFolder folder;
    FakeServices fake;
    std::unique_ptr<Startup> startup;

    // withDefaults: write the default settings files first; otherwise the folder starts
    // with nothing but the COM1 link.
    explicit StartedProgram(const QByteArray &outputType = "1", bool withDefaults = true)
    {
        if (withDefaults)
            folder.writeDefaults(pty.slavePath(), outputType);
        else
            QFile::link(pty.slavePath(), folder.file(QStringLiteral("COM1")));
        startup = std::make_unique<Startup>(folder.path(), fake.services());
        startup->Main();
    }
    frmSOKUTEI *main() const { return startup->mainWindow(); }
    QPushButton *button(const char *name) const
    {
        return main()->findChild<QPushButton *>(QLatin1String(name));
    }
};
