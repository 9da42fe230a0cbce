#include "measure.h"
#include "profile/profileloader.h"
#include "profile/responder.h"
#include "replytiming.h"

#include <QCoreApplication>

#include <cstring>
#include <vector>

// A SCPI program message of five commands, parsed and answered through the responder as the
// engine's receive path asks for it: one of settings and queries of the table alone, and one
// whose readings come from Lua, in the multimeter of the [scpi] example.
namespace {

const QByteArray kProfile = R"([framing]
terminator = "[LF]"
[scpi]
idn = "KALO,DMM-6500,0001,1.01"
[values.dc]
walk = { start = 5.0, step = 0.0005, min = 4.995, max = 5.005 }
[values.ac]
random = [0.999, 1.001]
[[scpi.property]]
name = "func"
header = "[SENSe:]FUNCtion[:ON]"
initial = '"VOLT:DC"'
choices = ['"VOLT:DC"', '"VOLT:AC"']
[[scpi.property]]
name = "range"
header = "[SENSe:]VOLTage[:DC]:RANGe[:UPPer]"
initial = "10"
min = 0.1
max = 1000
format = "%+.8E"
[[scpi.command]]
header = "CONFigure:VOLTage[:DC]"
set = { func = '"VOLT:DC"' }
[[scpi.command]]
header = "CONFigure:VOLTage:AC"
set = { func = '"VOLT:AC"' }
[[scpi.command]]
header = "READ?"
answer = "{= func == '\"VOLT:AC\"' and string.format('%+.8E', ac) or string.format('%+.8E', dc) }"
)";

struct Case
{
    const char *what;
    QByteArray message;
    int answers; // the queries of the message: a reply without as many is not timed
};

const Case kCases[] = {
    { "SCPI message of five commands (settings, queries, queue)",
        "*IDN?;:VOLT:RANG 100;RANG?;:FUNC \"volt:ac\";:SYST:ERR?\n", 3 },
    { "SCPI message of five commands with two Lua readings",
        "CONF:VOLT:AC;:READ?;:CONF:VOLT:DC;:READ?;*OPC?\r\n", 3 },
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int rounds = quick ? 2'000 : 200'000;
    const int warmUp = rounds / 10;
    qint64 sink = 0;
    QString error;
    const std::optional<Profile::Instrument> instrument
        = Profile::loadProfileText(kProfile, QStringLiteral("dmm.toml"), &error);
    if (!instrument) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    Profile::Responder responder(*instrument, 7);
    for (const Case &c : kCases) {
        const Profile::Reply reply = responder.reply(c.message);
        if (reply.bytes.count(';') != c.answers - 1 || !reply.bytes.endsWith('\n')
            || reply.bytes.contains("-1")) {
            std::fprintf(stderr, "%s: answered \"%s\"\n", c.what, reply.bytes.constData());
            return 1;
        }
    }
    // The cases take turns, so that each sees the same load of a shared machine.
    constexpr int kCount = int(std::size(kCases));
    std::vector<std::vector<double>> times(kCount);
    for (int round = 0; round < rounds + warmUp; ++round) {
        for (int i = 0; i < kCount; ++i) {
            const double us = replyMicroseconds(responder, kCases[i].message, &sink);
            if (round >= warmUp)
                times[size_t(i)].push_back(us);
        }
    }
    for (int i = 0; i < kCount; ++i) {
        for (const double p : { 50.0, 99.0 }) {
            Measure::report(qPrintable(QStringLiteral("%1, %2")
                                           .arg(QLatin1String(kCases[i].what),
                                                QLatin1String(p == 50 ? "median" : "p99"))),
                Measure::percentile(times[size_t(i)], p), "us", p == 50 ? "<= 20" : "");
        }
    }
    return sink == 42 ? 2 : 0;
}
