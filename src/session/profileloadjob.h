#pragma once

#include "profile/responder.h"
#include "session/instrumentprofile.h"
#include "settings/settingsrecords.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class QThread;

// Reads, checks and compiles a profile on a thread of its own, so that a large one never
// holds up the line: the profile in force goes on answering meanwhile. done() comes on the
// thread that made the job, which then takes the result.
class ProfileLoadJob : public QObject
{
    Q_OBJECT

public:
    struct Result
    {
        bool ok = false;
        // The "FILE:LINE:COL: reason" lines when it cannot be used.
        QString problems;
        InstrumentProfile profile;
        // Ready to play, the patterns after the profile's rules.
        std::unique_ptr<Profile::Responder> responder;
    };

    // profile: where to read from and the seed to use; patterns: the dialog's, after the rules.
    ProfileLoadJob(InstrumentProfile profile, DeviceCommandTable patterns,
                   QObject *parent = nullptr);
    // Waits for the thread, which owns what it reads into; a job abandoned while it reads
    // stops reading its rules and skips the compiling, so a stop waits at most for the
    // parsing of the file.
    ~ProfileLoadJob() override;

    void start();
    // After done(): the outcome, taken once.
    Result takeResult() { return std::move(m_result); }

signals:
    void done();

private:
    void run();

    DeviceCommandTable m_patterns;
    std::atomic<bool> m_abandoned { false };
    Result m_result;
    QThread *m_thread = nullptr;
};
