#pragma once

#include "log/commlog.h"
#include "ptypair.h"
#include "serial/serialcomm.h"
#include "session/commsession.h"
#include "settings/loadsettings.h"
#include "settingsfolder.h"
#include "virtualclock.h"

#include <QDeadlineTimer>

#include <functional>

// The line work alone on virtual time: a settings folder whose port 1 is a pty, loaded
// into a session whose waits run on a VirtualClock. Files may be changed before load().
struct VirtualSession
{
    static constexpr qint64 kMs = 1'000'000;

    PtyPair pty;
    SettingsFolder folder;
    SettingsRecords records;
    SerialComm port;
    CommLog log;
    VirtualClock clock;
    CommSession session { records, port, log, nullptr, &clock };

    VirtualSession(const QByteArray &outputType, const QByteArray &interval)
    {
        folder.writeDefaults(pty.slavePath(), outputType, interval);
    }
    void load() { LoadSettings(records, port, folder.path()); }
    // The profile as the folder's Instrument.toml, played with this seed from the next Start.
    bool loadProfile(const QByteArray &toml, quint64 seed, QString *error)
    {
        folder.write(InstrumentProfile::folderFileName(), toml);
        session.profile().setAppFolder(folder.path());
        session.profile().setSeed(seed);
        return session.loadProfile(error);
    }
    // Writes as the host, and lets the program take the bytes before virtual time moves on:
    // a pty hands them over a little later, but they must arrive at this moment.
    void hostWrites(const QByteArray &bytes)
    {
        const qint64 taken = session.counters().bytesIn + bytes.size();
        pty.write(bytes);
        for (QDeadlineTimer patience(2000);
             session.counters().bytesIn < taken && !patience.hasExpired();)
            VirtualClock::settle();
    }
    void at(qint64 ms, std::function<void()> action) { clock.schedule(ms * kMs, std::move(action)); }
    // Starts at virtual time 0 and runs every scheduled action up to untilMs.
    void run(qint64 untilMs)
    {
        at(0, [this] { session.start(); });
        clock.waitUntil(untilMs * kMs);
    }
};
