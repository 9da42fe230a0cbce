#include "measure.h"
#include "profile/profileloader.h"
#include "profile/responder.h"

#include <QCoreApplication>

#include <cstring>

// What a profile costs per command: finding the rule among a thousand and expanding the
// answer, as the engine's receive path would ask for it, and the expansion of texts alone.
namespace {

enum class Rules {
    Mixed, // exact commands, and regexes with a literal start
    Caseless, // "(?i)" regexes, as for SCPI: no literal start, various first bytes
    SharedStart, // regexes that can all start with the same bytes: all of them are candidates
};

// A word of three letters for rule i, its first letter changing fastest.
QByteArray word(int i)
{
    QByteArray letters;
    for (const int digit : { i % 26, i / 26 % 26, i / 676 % 26 })
        letters += char('A' + digit);
    return letters;
}

QByteArray thousandRules(Rules kind)
{
    QByteArray toml = "[values.weight]\nwalk = { start = 100.0, step = 0.5, min = 0.0, "
                      "max = 500.0 }\nformat = \"%+08.2f\"\n";
    for (int i = 0; i < 999; ++i) {
        const QByteArray n = QByteArray::number(i).rightJustified(4, '0');
        if (kind == Rules::Caseless)
            toml += "[[rule]]\nregex = '(?i)" + word(i) + " ([0-9]+)\\r\\n'\nanswer = \"{1}\"\n";
        else if (kind == Rules::SharedStart)
            toml += "[[rule]]\nregex = '(?:R|S)" + n + " ([0-9]+)\\r\\n'\nanswer = \"{1}\"\n";
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

    std::optional<Profile::Instrument> mixed;
    const double loadMs = microseconds(1, [&] { mixed = load(thousandRules(Rules::Mixed)); });
    std::optional<Profile::Instrument> caseless;
    const double caselessLoadMs
        = microseconds(1, [&] { caseless = load(thousandRules(Rules::Caseless)); });
    const std::optional<Profile::Instrument> shared = load(thousandRules(Rules::SharedStart));
    if (!mixed || !caseless || !shared)
        return 1;
    Measure::report("load a profile of 1,000 rules", loadMs / 1000, "ms", "");
    Measure::report("load a profile of 1,000 (?i) regex rules", caselessLoadMs / 1000, "ms", "");

    Profile::Responder responder(*mixed, 7);
    Profile::RuleMatcher matcher;
    matcher.build(responder.instrument().rules);
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
        Measure::report(qPrintable(QStringLiteral("match, %1").arg(QLatin1String(c.what))),
            microseconds(n, [&] { sink += matcher.find(c.frame).rule; }), "us", "< 50");
        Measure::report(
            qPrintable(QStringLiteral("reply with answer, %1").arg(QLatin1String(c.what))),
            microseconds(n, [&] { sink += responder.reply(c.frame).bytes.size(); }), "us", "< 50");
    }

    Profile::Responder caselessResponder(*caseless, 7);
    const QByteArray caselessFrame = word(996).toLower() + " 12\r\n";
    Measure::report("reply, (?i) regex rule 996 of 1,000",
        microseconds(n / 10, [&] { sink += caselessResponder.reply(caselessFrame).bytes.size(); }),
        "us", "< 50");
    Profile::Responder sharedResponder(*shared, 7);
    Measure::report("reply, regex rule 996 of 1,000 that all can start alike",
        microseconds(n / 10, [&] { sink += sharedResponder.reply("S0996 12\r\n").bytes.size(); }),
        "us", "< 50");

    // Rules that each give up only at their step limit on a 4 KB frame: the frame's budget of
    // steps, not the number of rules, bounds how long it holds the next answer.
    for (const int storm : { 100, 300 }) {
        QByteArray toml;
        for (int i = 0; i < storm; ++i)
            toml += "[[rule]]\nregex = '(?<g>a+)+N\\n'\nanswer = \"A\"\n";
        const std::optional<Profile::Instrument> instrument = load(toml);
        if (!instrument)
            return 1;
        Profile::Responder stormResponder(*instrument, 7);
        const QByteArray frame = QByteArray(4095, 'a') + '\n';
        Measure::report(qPrintable(QStringLiteral("worst frame under a regex storm of %1 rules, "
                                                  "4 KB, to unanswered").arg(storm)),
            microseconds(quick ? 2 : 10, [&] {
                sink += stormResponder.reply(frame).budgetRule.size();
            }) / 1000, "ms", "< 200");
    }

    const auto expansion = [&](const char *what, const QByteArray &values, const char *text) {
        const std::optional<Profile::Instrument> instrument
            = load(values + "[continuous]\ntext = \"" + text + "\"\n");
        if (!instrument)
            return;
        Profile::Responder texts(*instrument, 7);
        Measure::report(
            what, microseconds(n, [&] { sink += texts.continuousText().size(); }), "us", "< 10");
    };
    const QByteArray weight = "[values.weight]\nwalk = { start = 100.0, step = 0.5, min = 0.0, "
                              "max = 500.0 }\nformat = \"%+08.2f\"\n";
    expansion("expand \"{weight} g[CR][LF]\"", weight, "{weight} g[CR][LF]");
    expansion("expand a text of 4 values, local time and 2 checksums",
        weight
            + "[values.stability]\nsequence = [\"ST\", \"US\"]\n"
              "[values.count]\ncounter = { start = 0, step = 1 }\nformat = \"%06d\"\n"
              "[values.now]\nclock = \"%H:%M:%S.%L\"\n",
        "[SXT]{check_start}{stability},{weight},{count},{now}[EXT]{xor}{crc16_modbus:hex}[CR][LF]");
    return sink == 42 ? 2 : 0;
}
