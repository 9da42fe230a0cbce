#pragma once

#include "measure.h"
#include "profile/responder.h"

// Microseconds of one reply of the real responder; the answer's size goes to sink, so the
// work cannot be optimised away.
inline double replyMicroseconds(Profile::Responder &responder, const QByteArray &command,
                                qint64 *sink)
{
    const double t0 = Measure::monotonicSeconds();
    *sink += responder.reply(command).bytes.size();
    return (Measure::monotonicSeconds() - t0) * 1e6;
}
