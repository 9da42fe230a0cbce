#include "session/instrumentprofile.h"

#include "platform/appfolder.h"
#include "profile/profileloader.h"
#include "profile/responder.h"

#include <QFileInfo>

void InstrumentProfile::setAppFolder(const QString &folder)
{
    if (m_required)
        return;
    m_path = AppFolder::filePath(folder, folderFileName());
}

void InstrumentProfile::setFile(const QString &path)
{
    m_path = QFileInfo(path).absoluteFilePath();
    m_required = true;
}

bool InstrumentProfile::reload(QString *error, const std::atomic<bool> *abandoned)
{
    m_instrument.reset();
    if (m_path.isEmpty() || (!m_required && !QFileInfo::exists(m_path)))
        return true;
    QString problem;
    m_instrument = Profile::loadProfileFile(m_path, &problem, abandoned);
    if (!m_instrument && error)
        *error = problem;
    return m_instrument.has_value();
}

std::unique_ptr<Profile::Responder>
InstrumentProfile::makeResponder(const DeviceCommandTable &patterns) const
{
    std::unique_ptr<Profile::Responder> responder;
    if (m_instrument) {
        const quint64 seed = m_seedOverride ? *m_seedOverride
                : m_instrument->seed        ? *m_instrument->seed
                                            : Profile::drawSeed();
        responder = std::make_unique<Profile::Responder>(*m_instrument, seed);
    } else {
        responder = std::make_unique<Profile::Responder>(fixedInstrument(), 0);
    }
    QList<QByteArray> commands;
    QList<QByteArray> answers;
    for (int p = 0; p < kPatternCount; ++p) {
        commands.append(patterns.DeviceCommandBytes[size_t(p)]);
        answers.append(patterns.OutputDataBytes[size_t(p)]);
    }
    responder->appendPatterns(commands, answers);
    return responder;
}

// The host gets one second from the first byte of a command, however soon it is complete;
// what waits then is answered when it is a device command, kept when it may still become
// one, and dropped otherwise.
Profile::Instrument InstrumentProfile::fixedInstrument()
{
    Profile::Instrument fixed;
    fixed.framing.mode = Profile::Framing::Mode::Window;
    fixed.framing.windowNs = Profile::Framing::kOneSecondNs;
    fixed.framing.windowExact = true;
    return fixed;
}
