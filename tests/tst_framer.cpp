#include "profile/framer.h"
#include "profile/seededrandom.h"
#include "profilefixture.h"

#include <QTest>

using namespace Profile;

// A framing and, for the one-second rule, the commands it may hand out; or a profile, whose
// framer is made as the engine makes it.
struct Setup
{
    Framing framing;
    WindowLengths lengths;
    QByteArray profile = {};
};
Q_DECLARE_METATYPE(Setup)

// Framing from the line's point of view: bytes arrive in reads of any size at any time, and
// the frames must not depend on how the reads fell or whether the engine's timer was late.
class tst_Framer : public QObject
{
    Q_OBJECT

private slots:
    void shouldCutTheSameFramesHoweverReadsFall();
    void shouldEndCommandsByTheRulesHoweverReadsFall();
    void shouldCutAsTheFramingSays_data();
    void shouldCutAsTheFramingSays();
};

namespace {
constexpr qint64 kMs = 1'000'000;

struct Arrival
{
    QByteArray bytes;
    qint64 atNs;
};

// Feeds the reads and fires the deadlines the way the engine does, on time or late; dropped
// collects what the framer hands out as dropped, one entry each time.
std::vector<Frame> drive(Framer &framer, const std::vector<Arrival> &reads, Rng &rng,
                         std::vector<QByteArray> *dropped = nullptr)
{
    std::vector<Frame> frames;
    const auto add = [&](std::vector<Frame> more) {
        frames.insert(frames.end(), more.begin(), more.end());
        const QByteArray lost = framer.takeDropped();
        if (dropped && !lost.isEmpty())
            dropped->push_back(lost);
    };
    for (const Arrival &read : reads) {
        if (framer.deadlineNs() <= read.atNs && rng.chance(0.5))
            add(framer.expire(framer.deadlineNs()));
        add(framer.feed(read.bytes, read.atNs));
    }
    if (framer.deadlineNs() != Framer::kNoDeadline)
        add(framer.expire(framer.deadlineNs()));
    return frames;
}

// Commands without terminator; some begin longer ones or grow without end, one gives up.
QByteArray byRules(const char *framing = "gap_ms = 50\n")
{
    return QByteArray("[framing]\nby = \"rules\"\n") + framing
        + "[[rule]]\nmatch = \"*IDN?\"\n[[rule]]\nregex = 'VSET[0-9]:[0-9.]{5}'\n"
          "[[rule]]\nmatch = \"MEAS?\"\n[[rule]]\nmatch = \"MEAS?ALL\"\n"
          "[[rule]]\nregex = 'R[0-9]+'\n[[rule]]\nregex = '(a+)+b'\n";
}

std::unique_ptr<Framer> framerFor(const Setup &setup)
{
    if (setup.profile.isEmpty())
        return Framer::create(setup.framing, setup.lengths);
    const std::optional<Instrument> instrument = ProfileFixture::load(setup.profile);
    return instrument ? ProfileFixture::play(*instrument)->makeFramer() : nullptr;
}

// "AB@0 CD@999": bytes and the millisecond of their read, or of their frame's completion.
std::vector<Arrival> timed(const QByteArray &words)
{
    std::vector<Arrival> arrivals;
    for (const QByteArray &word : words.split(' ')) {
        const qsizetype at = word.lastIndexOf('@');
        arrivals.push_back({ word.left(at), word.mid(at + 1).toLongLong() * kMs });
    }
    return arrivals;
}
} // namespace

void tst_Framer::shouldCutTheSameFramesHoweverReadsFall()
{
    for (quint64 seed = 1; seed <= 400; ++seed) {
        Rng rng(seed);
        const auto mode = Framing::Mode(rng.between(1, 3));
        const bool terminated = mode == Framing::Mode::Terminator;
        // Braces run in order, so the draws do too.
        Framing framing { mode, Framing::kOneSecondNs, rng.chance(0.5) ? "\r\n" : "\x03",
            int(rng.between(1, 12)), terminated ? 0 : 20 * kMs };
        // Commands longer than this are dropped whole, each once, wherever their reads end.
        framing.maxBytes = int(rng.between(std::max(framing.length, 2), 30));

        // The commands, each sent in reads of random size; commands of the gap framing are
        // apart by more than the gap, the reads inside one by less.
        std::vector<QByteArray> commands;
        std::vector<qint64> lastReadNs;
        std::vector<Arrival> reads;
        std::vector<QByteArray> tooLong;
        qint64 now = 0;
        for (int c = 0, n = int(rng.between(1, 8)); c < n; ++c) {
            QByteArray command;
            const int size
                = framing.mode == Framing::Mode::Length ? framing.length : int(rng.between(1, 20));
            for (int i = 0; i < size; ++i)
                command.append(char(terminated ? rng.between('A', 'Z') : rng.between(0, 255)));
            if (terminated)
                command += framing.terminator;
            for (qsizetype at = 0; at < command.size();) {
                const qsizetype take = rng.between(1, command.size() - at);
                reads.push_back({ command.mid(at, take), now });
                at += take;
                now += rng.between(0, 19) * kMs;
            }
            if (command.size() > framing.maxBytes) {
                tooLong.push_back(command);
            } else {
                commands.push_back(command);
                lastReadNs.push_back(reads.back().atNs);
            }
            now += framing.mode == Framing::Mode::Gap ? rng.between(21, 60) * kMs : 0;
        }
        const std::unique_ptr<Framer> framer = Framer::create(framing, {});
        std::vector<QByteArray> dropped;
        const std::vector<Frame> frames = drive(*framer, reads, rng, &dropped);
        QCOMPARE(frames.size(), commands.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            QCOMPARE(frames[i].bytes, commands[i]);
            const qint64 complete
                = lastReadNs[i] + (framing.mode == Framing::Mode::Gap ? framing.gapNs : 0);
            QCOMPARE(frames[i].completeNs, complete);
        }
        QCOMPARE(framer->pendingBytes(), 0);
        // Consecutive dropped commands may come out together, never one in pieces.
        QVERIFY(dropped.size() <= tooLong.size());
        QCOMPARE(dropped.empty() ? QByteArray() : QList(dropped.begin(), dropped.end()).join(),
                 QList(tooLong.begin(), tooLong.end()).join());
    }
}

void tst_Framer::shouldEndCommandsByTheRulesHoweverReadsFall()
{
    const std::unique_ptr<Framer> framer = framerFor(Setup { {}, {}, byRules() });
    QVERIFY(framer);
    constexpr qint64 kGapNs = 50 * kMs;
    for (quint64 seed = 1; seed <= 300; ++seed) {
        Rng rng(seed);
        // Commands, some after noise, each in reads of random size; one that could grow ends
        // with the first read after it within the silence, else with the silence.
        std::vector<Arrival> reads;
        std::vector<Arrival> expected;
        std::vector<QByteArray> noises;
        bool open = false;
        const auto send = [&](const QByteArray &unit) {
            qint64 now = reads.empty() ? 0 : reads.back().atNs;
            now += rng.between(0, 1) ? rng.between(0, 49) * kMs : rng.between(51, 90) * kMs;
            if (open && now < expected.back().atNs)
                expected.back().atNs = now;
            for (qsizetype at = 0; at < unit.size(); now += rng.between(0, 49) * kMs) {
                const qsizetype take = rng.between(1, unit.size() - at);
                reads.push_back({ unit.mid(at, take), now });
                at += take;
            }
            open = false;
        };
        for (int c = 0, n = int(rng.between(1, 8)); c < n; ++c) {
            if (rng.chance(0.3)) {
                noises.push_back(QByteArray(int(rng.between(1, 3)), char(rng.between('x', 'z'))));
                send(noises.back());
            }
            // The last two could grow: "MEAS?ALL", more digits.
            const int kind = int(rng.between(0, 4));
            QByteArray command
                = QList<QByteArray> { "*IDN?", "MEAS?ALL", "VSET1:", "MEAS?", "R" }[kind];
            const int more = kind == 2 ? 5 : kind == 4 ? int(rng.between(1, 4)) : 0;
            for (int i = 0; i < more; ++i)
                command += char(kind == 2 && rng.chance(0.2) ? '.' : rng.between('0', '9'));
            send(command);
            open = kind >= 3;
            expected.push_back({ command, reads.back().atNs + (open ? kGapNs : 0) });
        }
        // The same reads, each of their bytes as a read of its own at the same time, and all
        // of them in one read.
        std::vector<Arrival> bytewise;
        QByteArray all;
        for (const Arrival &read : reads) {
            for (const char byte : read.bytes)
                bytewise.push_back({ QByteArray(1, byte), read.atNs });
            all += read.bytes;
        }
        const std::vector<Arrival> ways[] = { reads, bytewise, { { all, 0 } } };
        for (const std::vector<Arrival> &way : ways) {
            const bool oneRead = &way == &ways[2];
            framer->clear();
            std::vector<QByteArray> dropped;
            const std::vector<Frame> frames = drive(*framer, way, rng, &dropped);
            QCOMPARE(frames.size(), expected.size());
            for (size_t i = 0; i < frames.size(); ++i) {
                QCOMPARE(frames[i].bytes, expected[i].bytes);
                const bool silence = i + 1 == frames.size() && open;
                QCOMPARE(frames[i].completeNs,
                         oneRead ? (silence ? kGapNs : 0) : expected[i].atNs);
            }
            // Each noise is dropped once, whole; within one read, all together.
            if (oneRead)
                QCOMPARE(QList(dropped.begin(), dropped.end()).join(),
                         QList(noises.begin(), noises.end()).join());
            else
                QCOMPARE(dropped, noises);
        }
    }
}

void tst_Framer::shouldCutAsTheFramingSays_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QByteArray>("reads");
    QTest::addColumn<QByteArray>("frames");
    QTest::addColumn<qint64>("discarded");
    const auto row = [](const char *name, const Setup &setup, const char *reads, const char *frames,
                         qint64 discarded) {
        QTest::newRow(name) << setup << QByteArray(reads) << QByteArray(frames) << discarded;
    };
    // The one-second rule: the exact commands are 2 and 4 bytes long unless a regex rule takes
    // any count.
    const Setup window { {}, { { 4, 2 }, false, { "ABCD", "AB" } } };
    row("a command in one read", window, "ABCD@5", "ABCD@1005", 0);
    row("reads within the window join", window, "AB@0 CD@999", "ABCD@1000", 0);
    row("a read after the window opens the next", window, "AB@0 CD@1000", "AB@1000 CD@2000", 0);
    row("too few bytes wait for the next window", window, "ABC@0 D@3000", "ABCD@4000", 0);
    row("what begins no command is dropped", window, "XYZ@0 AB@1500", "AB@2500", 3);
    row("more than the longest are dropped", window, "ABCDE@0 AB@1500", "AB@2500", 5);
    // The fixed instrument's window hands out only a command itself; a profile's window hands
    // out every length a rule may take and lets the rules judge.
    const WindowLengths twoCommands { { 4, 6 }, false, { "XYZW", "ABCDEF" } };
    Setup exact { {}, twoCommands };
    exact.framing.windowExact = true;
    const Setup byLength { {}, twoCommands };
    row("exact: the beginning of a longer one waits", exact, "ABCD@0 EF@1500", "ABCDEF@2500", 0);
    row("by length: a command's length is handed out", byLength, "ABCD@0 EF@1500", "ABCD@1000", 2);
    row("exact: a command's length alone is dropped", exact, "XYZQ@0 XYZW@1500", "XYZW@2500", 4);
    row("a regex rule takes every count", Setup { {}, { {}, true, {} } }, "ABCDE@0", "ABCDE@1000",
        0);

    // The rest of a command after 50 ms of silence is the start of a new one.
    const auto cut = [](Framing::Mode mode, qint64 gapMs, int maxBytes = 4096) {
        return Setup { { mode, Framing::kOneSecondNs, "\r", 4, gapMs * kMs, maxBytes }, {} };
    };
    const Framing::Mode length = Framing::Mode::Length;
    row("length within the silence", cut(length, 50), "AB@0 CD@49", "ABCD@49", 0);
    row("length after the silence", cut(length, 50), "AB@0 WXYZ@50", "WXYZ@50", 2);
    row("silence counts from the last byte", cut(length, 50), "AB@0 C@40 D@89", "ABCD@89", 0);
    const Framing::Mode terminated = Framing::Mode::Terminator;
    row("terminator within the silence", cut(terminated, 50), "AB@0 C\r@49", "ABC\r@49", 0);
    row("terminator after the silence", cut(terminated, 50), "AB@0 OK\r@50", "OK\r@50", 2);
    row("no silence drops without gap_ms", cut(terminated, 0), "AB@0 C\r@9000", "ABC\r@9000", 0);
    row("a flood beyond maxBytes, to its end", cut(terminated, 0, 8), "AAAAAAAAA@0 OK\r@1 OK\r@2",
        "OK\r@2", 12);
    row("a long frame in one read", cut(terminated, 0, 8), "ABCDEFGH\r@0 OK\r@1", "OK\r@1", 9);
    row("a long frame in two reads", cut(terminated, 0, 8), "ABCDEFGH@0 \r@1 OK\r@2", "OK\r@2", 9);
    row("a long frame until the silence", cut(terminated, 50, 8), "ABCDEFGHIJ@0 OK\r@60",
        "OK\r@60", 10);
    row("a long gap frame to its silence", cut(Framing::Mode::Gap, 50, 8),
        "ABCDEFGHI@0 JK@10 OK@100", "OK@150", 11);
    Setup longWindow { {}, { {}, true, {} } };
    longWindow.framing.maxBytes = 8;
    row("a long window to its end", longWindow, "ABCDEFGHI@0 J@10 K@1500", "K@2500", 10);

    // By the rules: a command ends with its last byte unless a rule could take a longer one.
    const Setup rules { {}, {}, byRules() };
    row("two commands 27 ms apart", rules, "VSET1:03.30@0 *IDN?@27", "VSET1:03.30@0 *IDN?@27", 0);
    row("two commands in one read", rules, "VSET1:03.30*IDN?@0", "VSET1:03.30@0 *IDN?@0", 0);
    row("a quantifier's count ends it", rules, "VSET1:03.3@0 0@5 R7@10", "VSET1:03.30@5 R7@60", 0);
    row("a command that begins a longer one waits", rules, "MEAS?@0 ALL@10", "MEAS?ALL@10", 0);
    row("the silence ends a command that could grow", rules, "MEAS?@0 *IDN?@80",
        "MEAS?@50 *IDN?@80", 0);
    row("the next command ends it", rules, "MEAS?@0 *IDN?@20", "MEAS?@20 *IDN?@20", 0);
    row("noise before a command", rules, "xy@0 z*IDN?@5", "*IDN?@5", 3);
    row("a command cut short goes to the rules", rules, "VSET1:03.3*IDN?@0",
        "VSET1:03.3@0 *IDN?@0", 0);
    row("a byte after a whole command", rules, "MEAS?x@0 *IDN?@5", "MEAS?@0 *IDN?@5", 1);
    row("the silence is 100 ms unless set", Setup { {}, {}, byRules("") }, "R1@0 R2@99",
        "R1@99 R2@199", 0);
    // A try that gives up cannot tell, so the silence ends the command.
    row("a regex that gives up", rules, "aaaaaaaaaaaaaaaaaaaaaaaaac@0 *IDN?@60",
        "aaaaaaaaaaaaaaaaaaaaaaaaac@50 *IDN?@60", 0);
    const Setup shortRules { {}, {}, byRules("max_bytes = 8\n") };
    row("a flood past max_bytes, to the silence", shortRules, "R123456789@0 *IDN?@10 *IDN?@200",
        "*IDN?@200", 15);
    row("noise past max_bytes", shortRules, "xxxxxxxxxxxxxxxxxxxx@0 *IDN?@1", "*IDN?@1", 20);
}

void tst_Framer::shouldCutAsTheFramingSays()
{
    QFETCH(Setup, setup);
    QFETCH(QByteArray, reads);
    QFETCH(QByteArray, frames);
    QFETCH(qint64, discarded);
    const std::vector<Arrival> expected = timed(frames);
    const std::unique_ptr<Framer> framer = framerFor(setup);
    QVERIFY(framer);
    for (quint64 seed = 1; seed <= 2; ++seed) {
        framer->clear();
        Rng rng(seed);
        const std::vector<Frame> cut = drive(*framer, timed(reads), rng);
        QCOMPARE(cut.size(), expected.size());
        for (size_t i = 0; i < cut.size(); ++i) {
            QCOMPARE(cut[i].bytes, expected[i].bytes);
            QCOMPARE(cut[i].completeNs, expected[i].atNs);
        }
    }
    QCOMPARE(framer->discardedBytes(), 2 * discarded);
}

QTEST_GUILESS_MAIN(tst_Framer)
#include "tst_framer.moc"
