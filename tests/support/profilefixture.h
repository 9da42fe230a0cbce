#pragma once

#include "profileloader.h"
#include "responder.h"

#include <QDateTime>
#include <QTest>

#include <memory>

// Shared by the profile tests: profiles from texts and files, played at library level.
namespace ProfileFixture {

// A profile text that must load; the test fails with the loader's message otherwise.
inline std::optional<Profile::Instrument> load(const QByteArray &text)
{
    QString error;
    std::optional<Profile::Instrument> instrument
        = Profile::loadProfileText(text, "t.toml", &error);
    if (!instrument)
        qWarning().noquote() << error;
    return instrument;
}

// The responder for a profile, on a wall clock that stands still at a known moment.
inline std::unique_ptr<Profile::Responder> play(
    const Profile::Instrument &instrument, quint64 seed = 1)
{
    auto responder = std::make_unique<Profile::Responder>(instrument, seed);
    responder->setWallClock([] { return QDateTime(QDate(2024, 3, 9), QTime(14, 5, 6, 789)); });
    return responder;
}

// One of examples/profiles, played with the seed it names; null, with the loader's message,
// when it does not load.
inline std::unique_ptr<Profile::Responder> playExample(const char *name)
{
    QString error;
    const std::optional<Profile::Instrument> instrument = Profile::loadProfileFile(
        QStringLiteral(KALO_EXAMPLES_DIR "/profiles/") + QLatin1String(name), &error);
    if (!instrument) {
        qWarning().noquote() << error;
        return nullptr;
    }
    return play(*instrument, instrument->seed.value_or(1));
}

// The CRC computed the slow, obvious way, to check the library's table-driven one.
inline quint16 referenceCrc16(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

} // namespace ProfileFixture
