#pragma once

#include "profile/profile.h"
#include "settings/settingsrecords.h"

#include <QString>

#include <atomic>
#include <memory>
#include <optional>

namespace Profile {
class Responder;
}

// Where the instrument profile comes from, read again at each Start so an edit takes effect
// then. The application folder's Instrument.toml is optional: without it the program answers
// as it always has. A file named on the command line must be there.
class InstrumentProfile
{
public:
    static QString folderFileName() { return QStringLiteral("Instrument.toml"); }

    void setAppFolder(const QString &folder);
    // Instead of the folder's file; required.
    void setFile(const QString &path);
    // Instead of the profile's own seed.
    void setSeed(std::optional<quint64> seed) { m_seedOverride = seed; }
    std::optional<quint64> seed() const { return m_seedOverride; }

    // Reads the file again, all or nothing. False with "FILE:LINE:COL: reason" lines when a
    // profile is there (or required) and cannot be used; the last good one is then dropped,
    // so nothing ever runs half-read.
    // abandoned: a stop that came meanwhile cuts a long reading short (nothing is then in force).
    bool reload(QString *error, const std::atomic<bool> *abandoned = nullptr);
    bool inForce() const { return m_instrument.has_value(); }
    // The lines the profile's instrument drives; a powered instrument's without one.
    ModemLines lines() const { return m_instrument ? m_instrument->lines : ModemLines(); }
    QString file() const { return m_path; }

    // A responder for a new run, the dialog's patterns after the profile's rules: seeded from
    // the command line, else from the profile, else drawn. Without a profile, the fixed
    // instrument: the dialog's patterns alone, in the one-second window.
    std::unique_ptr<Profile::Responder> makeResponder(const DeviceCommandTable &patterns) const;
    static Profile::Instrument fixedInstrument();

private:
    QString m_path;
    bool m_required = false;
    std::optional<quint64> m_seedOverride;
    std::optional<Profile::Instrument> m_instrument;
};
