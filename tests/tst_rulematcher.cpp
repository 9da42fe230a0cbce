#include "platform/stoprequest.h"
#include "profile/rulematcher.h"
#include "profilefixture.h"

#include <QElapsedTimer>
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
    void shouldSpendOneStepBudgetPerFrame_data();
    void shouldSpendOneStepBudgetPerFrame();
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

// The first rule that matches alone, each regex with a frame's steps of its own.
int firstAlone(const std::vector<Rule> &rules, const QByteArray &bytes)
{
    QList<QByteArray> captures;
    for (int i = 0; i < int(rules.size()); ++i) {
        if (rules[size_t(i)].regex ? rules[size_t(i)].regex->matchAlone(bytes, &captures)
                                   : rules[size_t(i)].exact == bytes)
            return i;
    }
    return -1;
}

} // namespace

void tst_RuleMatcher::shouldSpendOneStepBudgetPerFrame_data()
{
    QTest::addColumn<QByteArray>("storm");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("stop");
    // -1: the steps run out before any rule is found, at a rule of the storm.
    QTest::addColumn<int>("expected");
    // A batch of catastrophic regexes gives up as a whole; its rules alone do not match, and
    // the rule after them does.
    const QByteArray batched = "(a+)+N\\n";
    QTest::newRow("15 before, 16 candidates tried alone") << batched << 15 << false << 15;
    QTest::newRow("16 before, 17 in a batch") << batched << 16 << false << 16;
    QTest::newRow("40 before, 41 in a batch") << batched << 40 << false << 40;
    QTest::newRow("300 in batches") << batched << 300 << false << -1;
    QTest::newRow("300 alone") << QByteArray("(?<g>a+)+N\\n") << 300 << false << -1;
    QTest::newRow("a stop") << batched << 5 << true << -1;
}

void tst_RuleMatcher::shouldSpendOneStepBudgetPerFrame()
{
    QFETCH(QByteArray, storm);
    QFETCH(int, count);
    QFETCH(bool, stop);
    QFETCH(int, expected);
    QByteArray toml;
    for (int i = 0; i < count; ++i)
        toml += "[[rule]]\nregex = '" + storm + "'\nanswer = \"A\"\n";
    toml += "[[rule]]\nregex = 'a+\\n'\nanswer = \"B\"\n";
    const std::optional<Instrument> instrument = ProfileFixture::load(toml);
    QVERIFY(instrument);
    RuleMatcher matcher;
    matcher.build(instrument->rules);
    const QByteArray frame = QByteArray(4095, 'a') + '\n';
    if (stop)
        StopRequest::raise();
    QElapsedTimer timer;
    timer.start();
    const RuleMatcher::Match found = matcher.find(frame);
    const qint64 ms = timer.elapsed();
    StopRequest::clear();
    QCOMPARE(found.rule, expected);
    QCOMPARE(found.stopped, stop);
    if (expected >= 0)
        QCOMPARE(firstAlone(instrument->rules, frame), expected);
    // Out of steps, the frame names the storm rule it could not pay for.
    QCOMPARE(found.exhaustedAt > 0 && found.exhaustedAt < count, expected < 0 && !stop);
    if (stop)
        QVERIFY2(ms < 5, qPrintable(QString::number(ms)));
}

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
                if (rule.regex ? rule.regex->matchAlone(bytes, &expected.captures)
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
