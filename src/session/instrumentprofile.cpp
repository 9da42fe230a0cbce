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

bool InstrumentProfile::reload(QString *error)
{
    m_instrument.reset();
    if (m_path.isEmpty() || (!m_required && !QFileInfo::exists(m_path)))
        return true;
    QString problem;
    m_instrument = Profile::loadProfileFile(m_path, &problem);
    if (!m_instrument && error)
        *error = problem;
    return m_instrument.has_value();
}

std::unique_ptr<Profile::Responder>
InstrumentProfile::makeResponder(const DeviceCommandTable &patterns) const
{
    if (!m_instrument)
        return nullptr;
    const quint64 seed = m_seedOverride ? *m_seedOverride
            : m_instrument->seed        ? *m_instrument->seed
                                        : Profile::drawSeed();
    auto responder = std::make_unique<Profile::Responder>(*m_instrument, seed);
    QList<QByteArray> commands;
    QList<QByteArray> answers;
    for (int p = 0; p < kPatternCount; ++p) {
        commands.append(patterns.DeviceCommandBytes[size_t(p)]);
        answers.append(patterns.OutputDataBytes[size_t(p)]);
    }
    responder->appendPatterns(commands, answers);
    return responder;
}
