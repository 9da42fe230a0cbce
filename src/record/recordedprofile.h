#pragma once

#include "record/exchangeinference.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace Recording {

// Where and when a recording was made, for the comment at the top of its profile.
struct RecordingInfo
{
    QString device;
    QString lineSettings;
    QDateTime began;
    QDateTime ended;
};

// The profile (TOML, UTF-8) that plays the recorded instrument back: the inferred framing and
// one exact rule per command, in the order first seen. A command answered alike every time
// answers that; one answered differently answers from a sequence of what it got, in the
// order it got it; one never answered takes the command and sends nothing. Each rule waits
// the delay it was seen to take: one figure when the delays agree, else [min, max]. Bytes are
// written in the profile notation, so the loader reads back exactly the recorded bytes.
QByteArray recordedProfileText(const Exchanges &recorded, const RecordingInfo &info);

// The notation of bytes inside a TOML basic string: quotes and backslashes escaped.
QString tomlString(const QByteArray &bytes);

} // namespace Recording
