#pragma once

#include "profile/profile.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <optional>

namespace Profile {

// Reads a profile (UTF-8 TOML), all or nothing: a file with any problem gives no instrument,
// and error holds every problem found, in file order, one a line, each as
// "FILE:LINE:COL: reason". Strict on purpose: unknown keys and bracket names, values of the
// wrong type, unknown values or placeholders and bad regexes are all refused, so a typo
// cannot quietly change how the instrument answers.
// A profile is a regular file of at most kMaxProfileBytes; anything else (a FIFO, a device,
// a folder) is refused at once, without waiting on it.
constexpr qint64 kMaxProfileBytes = qint64(16) << 20;
// abandoned: when it becomes true the reading stops early and gives nothing (a stop came
// while a large profile was being read).
std::optional<Instrument> loadProfileFile(const QString &path, QString *error,
    const std::atomic<bool> *abandoned = nullptr);
// The same for a text; name stands for the file in messages.
std::optional<Instrument> loadProfileText(const QByteArray &text, const QString &name,
    QString *error, const std::atomic<bool> *abandoned = nullptr);

} // namespace Profile
