#include "framer.h"
#include "seededrandom.h"

#include <QTest>

using namespace Profile;

Q_DECLARE_METATYPE(std::vector<qint64>)

// Framing from the line's point of view: bytes arrive in reads of any size at any time, and
// the frames must not depend on how the reads fell or whether the engine's timer was late.
class tst_Framer : public QObject
{
    Q_OBJECT

private slots:
    void shouldCutTheSameFramesHoweverReadsFall();
    void shouldKeepTheOneSecondRule_data();
    void shouldKeepTheOneSecondRule();
    void shouldDropAStaleOrFloodingFrame();
};

namespace {
constexpr qint64 kMs = 1'000'000;

struct Arrival
{
    QByteArray bytes;
    qint64 atNs;
};

// Feeds the reads and fires the deadlines the way the engine does, on time or late.
std::vector<Frame> drive(Framer &framer, const std::vector<Arrival> &reads, Rng &rng)
{
    std::vector<Frame> frames;
    const auto add
        = [&](std::vector<Frame> more) { frames.insert(frames.end(), more.begin(), more.end()); };
    for (const Arrival &read : reads) {
        if (framer.deadlineNs() <= read.atNs && rng.chance(0.5))
            add(framer.expire(framer.deadlineNs()));
        add(framer.feed(read.bytes, read.atNs));
    }
    if (framer.deadlineNs() != Framer::kNoDeadline)
        add(framer.expire(framer.deadlineNs()));
    return frames;
}
} // namespace

void tst_Framer::shouldCutTheSameFramesHoweverReadsFall()
{
    for (quint64 seed = 1; seed <= 400; ++seed) {
        Rng rng(seed);
        Framing framing;
        framing.mode = Framing::Mode(rng.between(1, 3));
        framing.terminator = rng.chance(0.5) ? QByteArray("\r\n") : QByteArray("\x03");
        framing.length = int(rng.between(1, 12));
        framing.gapNs = 20 * kMs;
        const bool terminated = framing.mode == Framing::Mode::Terminator;
        if (terminated)
            framing.gapNs = 0;

        // The commands, each sent in reads of random size; commands of the gap framing are
        // apart by more than the gap, the reads inside one by less.
        std::vector<QByteArray> commands;
        std::vector<qint64> lastReadNs;
        std::vector<Arrival> reads;
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
            commands.push_back(command);
            lastReadNs.push_back(reads.back().atNs);
            now += framing.mode == Framing::Mode::Gap ? rng.between(21, 60) * kMs : 0;
        }
        const std::unique_ptr<Framer> framer = Framer::create(framing, {});
        const std::vector<Frame> frames = drive(*framer, reads, rng);
        QCOMPARE(frames.size(), commands.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            QCOMPARE(frames[i].bytes, commands[i]);
            const qint64 complete
                = lastReadNs[i] + (framing.mode == Framing::Mode::Gap ? framing.gapNs : 0);
            QCOMPARE(frames[i].completeNs, complete);
        }
        QCOMPARE(framer->pendingBytes(), 0);
        QCOMPARE(framer->discardedBytes(), 0);
    }
}

void tst_Framer::shouldKeepTheOneSecondRule_data()
{
    QTest::addColumn<QByteArrayList>("reads");
    QTest::addColumn<std::vector<qint64>>("readMs");
    QTest::addColumn<bool>("anyLength");
    QTest::addColumn<QByteArrayList>("frames");
    QTest::addColumn<std::vector<qint64>>("completeMs");
    QTest::addColumn<qint64>("discarded");
    // The exact commands are 2 and 4 bytes long unless a regex rule takes any count.
    QTest::newRow("a command in one read")
        << QByteArrayList { "ABCD" } << std::vector<qint64> { 5 } << false
        << QByteArrayList { "ABCD" } << std::vector<qint64> { 1005 } << qint64(0);
    QTest::newRow("reads within the window join")
        << QByteArrayList { "AB", "CD" } << std::vector<qint64> { 0, 999 } << false
        << QByteArrayList { "ABCD" } << std::vector<qint64> { 1000 } << qint64(0);
    QTest::newRow("a read after the window opens the next")
        << QByteArrayList { "AB", "CD" } << std::vector<qint64> { 0, 1000 } << false
        << QByteArrayList { "AB", "CD" } << std::vector<qint64> { 1000, 2000 } << qint64(0);
    QTest::newRow("too few bytes wait for the next window")
        << QByteArrayList { "ABC", "D" } << std::vector<qint64> { 0, 3000 } << false
        << QByteArrayList { "ABCD" } << std::vector<qint64> { 4000 } << qint64(0);
    QTest::newRow("what begins no command is dropped")
        << QByteArrayList { "XYZ", "AB" } << std::vector<qint64> { 0, 1500 } << false
        << QByteArrayList { "AB" } << std::vector<qint64> { 2500 } << qint64(3);
    QTest::newRow("more than the longest are dropped")
        << QByteArrayList { "ABCDE", "AB" } << std::vector<qint64> { 0, 1500 } << false
        << QByteArrayList { "AB" } << std::vector<qint64> { 2500 } << qint64(5);
    QTest::newRow("a regex rule takes every count")
        << QByteArrayList { "ABCDE" } << std::vector<qint64> { 0 } << true
        << QByteArrayList { "ABCDE" } << std::vector<qint64> { 1000 } << qint64(0);
}

void tst_Framer::shouldKeepTheOneSecondRule()
{
    QFETCH(QByteArrayList, reads);
    QFETCH(std::vector<qint64>, readMs);
    QFETCH(bool, anyLength);
    QFETCH(QByteArrayList, frames);
    QFETCH(std::vector<qint64>, completeMs);
    QFETCH(qint64, discarded);
    std::vector<Arrival> arrivals;
    for (qsizetype i = 0; i < reads.size(); ++i)
        arrivals.push_back({ reads[i], readMs[size_t(i)] * kMs });
    const std::unique_ptr<Framer> framer = Framer::create(Framing {}, { { 4, 2 }, anyLength, { "ABCD", "AB" } });
    for (int late = 0; late < 2; ++late) {
        framer->clear();
        Rng rng(quint64(late) + 1);
        const std::vector<Frame> cut = drive(*framer, arrivals, rng);
        QCOMPARE(cut.size(), size_t(frames.size()));
        for (size_t i = 0; i < cut.size(); ++i) {
            QCOMPARE(cut[i].bytes, frames[qsizetype(i)]);
            QCOMPARE(cut[i].completeNs, completeMs[i] * kMs);
        }
    }
    QCOMPARE(framer->discardedBytes(), 2 * discarded);
}

void tst_Framer::shouldDropAStaleOrFloodingFrame()
{
    Framing framing;
    framing.mode = Framing::Mode::Length;
    framing.length = 4;
    framing.gapNs = 50 * kMs;
    std::unique_ptr<Framer> framer = Framer::create(framing, {});
    QVERIFY(framer->feed("AB", 0).empty());
    QCOMPARE(framer->deadlineNs(), 50 * kMs);
    // The rest of a command after the silence is the start of a new one.
    const std::vector<Frame> frames = framer->feed("WXYZ", 80 * kMs);
    QCOMPARE(frames.size(), size_t(1));
    QCOMPARE(frames[0].bytes, QByteArray("WXYZ"));
    QCOMPARE(framer->discardedBytes(), 2);

    framing.mode = Framing::Mode::Terminator;
    framing.terminator = "\r";
    framing.gapNs = 0;
    framing.maxBytes = 8;
    framer = Framer::create(framing, {});
    QVERIFY(framer->feed(QByteArray(9, 'A'), 0).empty());
    QCOMPARE(framer->pendingBytes(), 0);
    QCOMPARE(framer->feed("OK\r", 1).front().bytes, QByteArray("OK\r"));
}

QTEST_GUILESS_MAIN(tst_Framer)
#include "tst_framer.moc"
