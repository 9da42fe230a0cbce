#pragma once

#include "profile/profileloader.h"
#include "profile/responder.h"

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

// A checksum as an answer carries it (raw low byte first, or upper-case hex high digit
// first), computed the slow, obvious way to check the library's table-driven one.
inline QByteArray referenceChecksum(const QByteArray &name, bool raw, const QByteArray &over)
{
    quint8 sum = 0;
    quint8 x = 0;
    quint16 crc = 0xFFFF;
    for (const char c : over) {
        sum += quint8(c);
        x ^= quint8(c);
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    const bool wide = name == "crc16_modbus";
    const quint16 value = wide ? crc : name == "sum8" ? sum : name == "xor" ? x : quint8(-sum);
    if (raw)
        return QByteArray(1, char(value & 0xFF)) + QByteArray(wide ? 1 : 0, char(value >> 8));
    return QByteArray::number(value, 16).toUpper().rightJustified(wide ? 4 : 2, '0');
}

} // namespace ProfileFixture
