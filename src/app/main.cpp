#include "app/commandlinehelp.h"
#include "app/programversion.h"
#include "app/startoptions.h"
#include "headless/headlessprogram.h"
#include "session/instrumentprofile.h"
#include "startup/windowedprogram.h"

#include <QStringList>

#include <cstdio>

// Which front end runs is decided before any application object exists: the headless one
// must not touch a display or load a platform plugin.
int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QString error;
    const std::optional<StartOptions> options = StartOptions::parse(arguments, &error);
    if (!options) {
        std::fprintf(stderr, "kalo_rs232c: %s\n\n%s", error.toUtf8().constData(),
                     CommandLineHelp::text().toUtf8().constData());
        return 2;
    }
    if (options->help) {
        std::fputs(CommandLineHelp::text().toUtf8().constData(), stdout);
        return 0;
    }
    if (options->version) {
        std::printf("%s\n", ProgramVersion::commandLine().toUtf8().constData());
        return 0;
    }
    if (!options->checkProfile.isEmpty()) {
        InstrumentProfile profile;
        profile.setFile(options->checkProfile);
        if (!profile.reload(&error)) {
            std::fprintf(stderr, "%s\n", error.toUtf8().constData());
            return StartOptions::kBadProfile;
        }
        return 0;
    }
    return options->headless ? runHeadless(argc, argv, *options) : runWindowed(argc, argv, *options);
}
