#include "profilefixture.h"
#include "rulematcher.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Profile;

// Many rules that could all match the same frames: the matcher, whatever shortcut it takes,
// must find the rule and the captures that trying every rule in order finds.
class tst_RuleMatcher : public QObject
{
    Q_OBJECT

private slots:
    void shouldFindWhatTryingEachRuleFinds();
};

namespace {

// Starts, middles and ends of regexes, among them what only works alone: back references,
// named groups, extended mode, verbs and quoting.
const char *const kStarts[] = { "(?:R|S)", "[RS]", "R", "(?i)r", "(R)\\1?", "(?<n>R)",
    "(?x) R ", "(?i:r|s)", "\\QR\\E", ".", "" };
const char *const kMiddles[] = { "([0-9])", "\\d+", "(\\d)(\\d)?", "(?=\\d)(\\d*)", "(?:\\d|x)*",
    "(*COMMIT)\\d", "(?:(a)|(\\d))+", "(?s:.)", "" };
const char *const kEnds[] = { "\\r\\n", "", "\\r?\\n?", "(\\n)?" };
const char kFrameBytes[] = "RSrsx0123\r\n";

template <size_t N> const char *pick(QRandomGenerator &rng, const char *const (&from)[N])
{
    return from[rng.bounded(int(N))];
}

QByteArray frame(QRandomGenerator &rng, int shortest = 0)
{
    QByteArray bytes;
    for (int i = rng.bounded(shortest, 6); i > 0; --i)
        bytes += kFrameBytes[rng.bounded(int(sizeof kFrameBytes) - 1)];
    return bytes;
}

} // namespace

void tst_RuleMatcher::shouldFindWhatTryingEachRuleFinds()
{
    for (quint32 seed = 1; seed <= 40; ++seed) {
        QRandomGenerator rng(seed);
        QByteArray toml;
        for (int i = rng.bounded(20, 300); i > 0; --i) {
            if (rng.bounded(10) == 0) {
                const QByteArray exact = frame(rng, 1).replace('\r', "[CR]").replace('\n', "[LF]");
                toml += "[[rule]]\nmatch = \"" + exact + "\"\nanswer = \"A\"\n";
            } else {
                toml += QByteArray("[[rule]]\nregex = '") + pick(rng, kStarts) + pick(rng, kMiddles)
                    + pick(rng, kEnds) + "'\nanswer = \"A\"\n";
            }
        }
        const std::optional<Instrument> instrument = ProfileFixture::load(toml);
        QVERIFY(instrument);
        RuleMatcher matcher;
        matcher.build(instrument->rules);
        for (int f = 0; f < 300; ++f) {
            const QByteArray bytes = frame(rng);
            RuleMatcher::Match expected;
            for (int i = 0; i < int(instrument->rules.size()) && expected.rule < 0; ++i) {
                const Rule &rule = instrument->rules[size_t(i)];
                if (rule.regex ? rule.regex->match(ByteRegex::subject(bytes), &expected.captures)
                               : rule.exact == bytes) {
                    expected.rule = i;
                    if (!rule.regex)
                        expected.captures = { bytes };
                }
            }
            const RuleMatcher::Match found = matcher.find(bytes);
            const QByteArray context = "seed " + QByteArray::number(seed) + ", frame "
                + bytes.toHex() + ": rule " + QByteArray::number(found.rule) + ", not "
                + QByteArray::number(expected.rule);
            QVERIFY2(found.rule == expected.rule, context.constData());
            if (found.rule >= 0)
                QVERIFY2(found.captures == expected.captures, context.constData());
        }
    }
}

QTEST_GUILESS_MAIN(tst_RuleMatcher)
#include "tst_rulematcher.moc"
