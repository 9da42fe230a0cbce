// Profile files are written by hand and shared. Loading must end for any text, a refusal must
// name its place as FILE:LINE:COL on every line, and a profile that loads must answer any
// bytes without failing.
#include "profile/profileloader.h"
#include "profile/responder.h"

#include <QRegularExpression>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    // The bytes after a NUL, if any, are what the host sends.
    const qsizetype split = input.indexOf('\0');
    const QByteArray text = split < 0 ? input : input.left(split);
    const QByteArray line = split < 0 ? QByteArray("W\r\n") : input.mid(split + 1);

    QString error;
    const std::optional<Profile::Instrument> instrument
        = Profile::loadProfileText(text, QStringLiteral("fuzz.toml"), &error);
    if (!instrument) {
        static const QRegularExpression place(QStringLiteral("^fuzz\\.toml:\\d+:\\d+: \\S"));
        for (const QString &problem : error.split(QLatin1Char('\n'))) {
            if (!place.match(problem).hasMatch())
                std::abort();
        }
        return 0;
    }
    Profile::Responder responder(*instrument, quint64(size));
    responder.appendPatterns({ QByteArray("ABC+\r+\n") }, { QByteArray("4569.12") });
    const std::unique_ptr<Profile::Framer> framer = responder.makeFramer();
    qint64 now = 0;
    for (qsizetype at = 0; at < line.size(); at += 3, now += 7'000'000) {
        std::vector<Profile::Frame> frames = framer->feed(line.mid(at, 3), now);
        const std::vector<Profile::Frame> late = framer->expire(now + 2'000'000'000);
        frames.insert(frames.end(), late.begin(), late.end());
        for (const Profile::Frame &frame : frames) {
            const Profile::Reply reply = responder.reply(frame.bytes);
            if (reply.delayNs < 0 || (reply.dropped && !reply.bytes.isEmpty()))
                std::abort();
        }
    }
    responder.continuousText();
    return 0;
}
