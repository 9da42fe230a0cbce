#include "measure.h"
#include "profile/checksums.h"
#include "profile/profileloader.h"
#include "profile/responder.h"

#include <QCoreApplication>

#include <cstring>
#include <vector>

// A Modbus read of 125 holding registers, framed and answered as the engine's receive path
// does it (framer, then the responder's map), from a map of plain values and from one whose
// every register is a Lua expression of its address.
namespace {

struct Case
{
    const char *what;
    const char *value;
    const char *target;
};

const Case kCases[] = {
    { "Modbus read of 125 registers, plain values", "7", "<= 20" },
    { "Modbus read of 125 registers, {= 1000 + addr } each", "\"{= 1000 + addr }\"", "<= 125" },
};

QByteArray withCrc(QByteArray frame)
{
    const quint16 crc = Profile::crc16Modbus(frame);
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int rounds = quick ? 2'000 : 100'000;
    const int warmUp = rounds / 10;
    const QByteArray request = withCrc(QByteArray::fromHex("01030000007D"));
    qint64 sink = 0;

    std::vector<std::unique_ptr<Profile::Responder>> responders;
    std::vector<std::unique_ptr<Profile::Framer>> framers;
    for (const Case &c : kCases) {
        QString error;
        const std::optional<Profile::Instrument> instrument = Profile::loadProfileText(
            QByteArray("[modbus]\naddress = 1\n[[modbus.holding]]\nat = [0, 124]\nvalue = ") + c.value
                + "\n",
            QStringLiteral("bench.toml"), &error);
        if (!instrument) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        responders.push_back(std::make_unique<Profile::Responder>(*instrument, 7));
        responders.back()->setLineSpeed(19200);
        framers.push_back(responders.back()->makeFramer());
        // A wrong answer is not timed: 5 bytes of envelope and 250 of registers.
        const Profile::Reply reply = responders.back()->reply(request);
        if (reply.bytes.size() != 255 || reply.bytes[1] != 3) {
            std::fprintf(stderr, "%s: answered %s\n", c.what, reply.bytes.toHex().constData());
            return 1;
        }
    }

    // The cases take turns so that each sees the same load of a shared machine.
    std::vector<std::vector<double>> times(std::size(kCases));
    qint64 now = 0;
    for (int round = 0; round < rounds + warmUp; ++round) {
        for (size_t i = 0; i < std::size(kCases); ++i) {
            now += 10'000'000;
            const double t0 = Measure::monotonicSeconds();
            for (const Profile::Frame &frame : framers[i]->feed(request, now))
                sink += responders[i]->reply(frame.bytes).bytes.size();
            const double us = (Measure::monotonicSeconds() - t0) * 1e6;
            if (round >= warmUp)
                times[i].push_back(us);
        }
    }
    for (size_t i = 0; i < std::size(kCases); ++i) {
        for (const double p : { 50.0, 99.0 }) {
            Measure::report(qPrintable(QStringLiteral("%1, %2").arg(QLatin1String(kCases[i].what),
                                p == 50 ? QStringLiteral("median") : QStringLiteral("p99"))),
                Measure::percentile(times[i], p), "us", kCases[i].target);
        }
    }
    return sink == 42 ? 2 : 0;
}
