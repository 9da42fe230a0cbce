#include "measure.h"
#include "profileloader.h"
#include "responder.h"

#include <QCoreApplication>

#include <cstring>

// What a profile costs per command: finding the rule among a thousand and expanding the
// answer, as the engine's receive path would ask for it, and the continuous text alone.
namespace {

QByteArray thousandRules(bool fixedStarts)
{
    QByteArray toml = "[values.weight]\nwalk = { start = 100.0, step = 0.5, min = 0.0, "
                      "max = 500.0 }\nformat = \"%+08.2f\"\n";
    for (int i = 0; i < 999; ++i) {
        const QByteArray n = QByteArray::number(i).rightJustified(4, '0');
        if (!fixedStarts)
            toml += "[[rule]]\nregex = '(?:R|S)" + n
                + " ([0-9]+)\\r\\n'\nanswer = \"{1}[CR][LF]\"\n";
        else if (i % 3 == 0)
            toml += "[[rule]]\nregex = 'R" + n
                + " ([0-9]+)\\r\\n'\nanswer = \"R{1},{weight}[CR][LF]\"\n";
        else
            toml += "[[rule]]\nmatch = \"C" + n + "[CR][LF]\"\nanswer = \"{weight} g[CR][LF]\"\n";
    }
    return toml + "[[rule]]\nregex = '.*'\nanswer = \"ERR[CR][LF]\"\n";
}

std::optional<Profile::Instrument> load(const QByteArray &toml)
{
    QString error;
    std::optional<Profile::Instrument> instrument = Profile::loadProfileText(toml, "bench", &error);
    if (!instrument)
        std::fprintf(stderr, "%s\n", qPrintable(error));
    return instrument;
}

// Mean microseconds per call over n calls.
template <typename Call> double microseconds(int n, Call call)
{
    const double t0 = Measure::monotonicSeconds();
    for (int i = 0; i < n; ++i)
        call();
    return (Measure::monotonicSeconds() - t0) / n * 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int n = quick ? 2'000 : 200'000;
    qint64 sink = 0;

    const QByteArray mixed = thousandRules(true);
    std::optional<Profile::Instrument> instrument;
    const double loadMs = microseconds(1, [&] { instrument = load(mixed); }) / 1000;
    if (!instrument)
        return 1;
    Measure::report("load a profile of 1,000 rules", loadMs, "ms", "");
    Profile::Responder responder(*instrument, 7);
    const Profile::RuleMatcher &matcher = [&]() -> const Profile::RuleMatcher & {
        static Profile::RuleMatcher m;
        m.build(responder.instrument().rules);
        return m;
    }();

    const struct
    {
        const char *what;
        QByteArray frame;
    } cases[] = {
        { "exact rule 998 of 1,000", "C0998\r\n" },
        { "regex rule 996 of 1,000", "R0996 12\r\n" },
        { "fallback after 999 rules", "XYZ\r\n" },
    };
    for (const auto &c : cases) {
        const double match = microseconds(n, [&] { sink += matcher.find(c.frame).rule; });
        Measure::report(qPrintable(QStringLiteral("match, %1").arg(QLatin1String(c.what))), match,
            "us", "< 50");
        const double reply
            = microseconds(n, [&] { sink += responder.reply(c.frame).bytes.size(); });
        Measure::report(
            qPrintable(QStringLiteral("reply with answer, %1").arg(QLatin1String(c.what))), reply,
            "us", "< 50");
    }

    // Regexes that fix no start are all tried in order: the price of a profile written so.
    std::optional<Profile::Instrument> slow = load(thousandRules(false));
    if (!slow)
        return 1;
    Profile::Responder slowResponder(*slow, 7);
    Measure::report("reply, regex rule 996 of 1,000 regexes without a fixed start",
        microseconds(n / 20, [&] { sink += slowResponder.reply("S0996 12\r\n").bytes.size(); }),
        "us", "");

    const std::optional<Profile::Instrument> texts = load(R"(
[values.weight]
walk = { start = 100.0, step = 0.5, min = 0.0, max = 500.0 }
format = "%+08.2f"
[values.stability]
sequence = ["ST", "US"]
[values.count]
counter = { start = 0, step = 1 }
format = "%06d"
[values.now]
clock = "%H:%M:%S.%L"
[continuous]
text = "[SXT]{check_start}{stability},{weight},{count},{now}[EXT]{xor}{crc16_modbus:hex}[CR][LF]"
)");
    if (!texts)
        return 1;
    Profile::Responder plain(*instrument, 7);
    Measure::report("expand \"{weight} g[CR][LF]\"",
        microseconds(n, [&] { sink += responder.reply("C0001\r\n").bytes.size(); }), "us", "< 10");
    Profile::Responder framed(*texts, 7);
    Measure::report("expand a text of 4 values, local time and 2 checksums",
        microseconds(n, [&] { sink += framed.continuousText().size(); }), "us", "< 10");
    return sink == 42 ? 2 : 0;
}
