#include "profile/seededrandom.h"
#include "profilefixture.h"
#include "record/exchangeinference.h"
#include "record/recordedprofile.h"

#include <QTest>

#include <limits>
#include <map>

using namespace Recording;

// A recording is judged by what it plays back: the host's timeline fed again through the
// framer and responder of the profile written from it must draw the instrument's answers.
class tst_Recording : public QObject
{
    Q_OBJECT

private slots:
    void terminatorIsWhatEveryAnsweredCommandEndsWith_data();
    void terminatorIsWhatEveryAnsweredCommandEndsWith();
    void aRecordedInstrumentPlaysBack();
    void manyOneByteReadsStayCompactAndWithinTheBound();
};

namespace {
constexpr qint64 kMs = 1'000'000;

// A read as a made-up session writes it down.
struct Chunk
{
    Side from = Side::Host;
    QByteArray bytes;
    qint64 atNs = 0;
};

RecordedReads stored(const std::vector<Chunk> &chunks)
{
    RecordedReads reads;
    for (const Chunk &chunk : chunks)
        reads.append(chunk.from, chunk.bytes, chunk.atNs);
    return reads;
}

// One command of a made-up session and what the instrument did.
struct Step
{
    QByteArray command;
    std::vector<Chunk> host;
    bool answered = false;
    QByteArray answer;
    qint64 delayNs = 0;
    // Before the host's next command, or the answer: where this step's frames are all out.
    qint64 settledNs = 0;
};

struct Session
{
    std::vector<Chunk> chunks;
    std::vector<Step> steps;
    std::map<QByteArray, std::vector<qint64>> delays;
    qint64 unasked = 0;
};

QByteArray randomBytes(Profile::Rng &rng, int low, int high, const QByteArray &avoid)
{
    // Weighted toward the characters the notation and TOML treat specially.
    static const QByteArray special("\"\\[]{}\x00\x7F\x80\xFF\t", 11);
    QByteArray bytes;
    const int length = int(rng.between(low, high));
    while (bytes.size() < length) {
        const char c = rng.chance(0.3) ? special[int(rng.between(0, special.size() - 1))]
                                       : char(rng.between(0, 255));
        if (!avoid.contains(c))
            bytes += c;
    }
    return bytes;
}

Session makeSession(Profile::Rng &rng)
{
    static const QByteArray terminators[] = { "\r\n", "\n", "\x03", QByteArray() };
    const QByteArray terminator = terminators[rng.between(0, 3)];
    Session session;
    struct Command
    {
        QByteArray bytes;
        int kind; // 0 one answer, 1 varying answers, 2 never answered, 3 now and then
        std::vector<QByteArray> answers;
        qint64 delayNs;
        bool steady;
    };
    std::vector<Command> commands(size_t(rng.between(1, 6)));
    for (Command &c : commands) {
        c.bytes = randomBytes(rng, 1, 8, terminator) + terminator;
        c.kind = int(rng.between(0, 3));
        for (int a = 0; a < 3; ++a)
            c.answers.push_back(randomBytes(rng, 1, 12, {}));
        c.delayNs = rng.between(5, 15) * kMs;
        c.steady = rng.chance(0.5);
    }
    qint64 t = 0;
    if (rng.chance(0.3)) {
        const QByteArray greeting = randomBytes(rng, 1, 5, {});
        session.chunks.push_back({ Side::Device, greeting, t });
        session.unasked = greeting.size();
        t += 30 * kMs;
    }
    const int count = rng.chance(0.05) ? 0 : int(rng.between(1, 30));
    for (int i = 0; i < count; ++i) {
        const Command &c = commands[size_t(rng.between(0, qint64(commands.size()) - 1))];
        Step step;
        step.command = c.bytes;
        // The host's write may come in pieces, close together as on a line.
        qsizetype at = 0;
        while (at < c.bytes.size()) {
            const qsizetype piece = std::min<qsizetype>(c.bytes.size() - at, rng.between(1, 6));
            step.host.push_back({ Side::Host, c.bytes.mid(at, piece), t });
            at += piece;
            t += rng.between(0, kMs);
        }
        session.chunks.insert(session.chunks.end(), step.host.begin(), step.host.end());
        step.answered = c.kind == 0 || c.kind == 1 || (c.kind == 3 && rng.chance(0.5));
        step.delayNs = c.steady ? c.delayNs + rng.between(0, kMs / 2) : rng.between(5, 15) * kMs;
        // The answer in two reads, the second half a millisecond later.
        if (step.answered) {
            step.answer = c.kind == 0 ? c.answers[0] : c.answers[size_t(rng.between(0, 2))];
            const qint64 at = step.settledNs = step.host.back().atNs + step.delayNs;
            const qsizetype half = rng.between(1, step.answer.size());
            session.chunks.push_back({ Side::Device, step.answer.left(half), at });
            session.chunks.push_back({ Side::Device, step.answer.mid(half), at + kMs / 2 });
            session.delays[c.bytes].push_back(step.delayNs);
        }
        t = step.host.back().atNs + (step.answered ? step.delayNs : 0) + rng.between(20, 60) * kMs;
        step.settledNs = step.answered ? step.settledNs : t - 1;
        session.steps.push_back(std::move(step));
    }
    return session;
}
} // namespace

void tst_Recording::terminatorIsWhatEveryAnsweredCommandEndsWith_data()
{
    QTest::addColumn<QList<QByteArray>>("commands");
    QTest::addColumn<QByteArray>("terminator");
    // An empty entry stands for the instrument's answer.
    QTest::newRow("CR LF, a command repeated")
            << QList<QByteArray> { "Q\r\n", "", "Q\r\n", "" } << QByteArray("\r\n");
    QTest::newRow("the unanswered tail does not count")
            << QList<QByteArray> { "\x02A\x03", "", "\x02B\x03", "", "PART" } << QByteArray("\x03");
    QTest::newRow("two at once, answered together")
            << QList<QByteArray> { "SET 1\nGET?\n", "", "X\r\n", "" } << QByteArray("\n");
    QTest::newRow("binary frames share no end")
            << QList<QByteArray> { QByteArray::fromHex("010300000002c40b"), "",
                                   QByteArray::fromHex("010300050001940b"), "" }
            << QByteArray();
}

void tst_Recording::terminatorIsWhatEveryAnsweredCommandEndsWith()
{
    QFETCH(QList<QByteArray>, commands);
    QFETCH(QByteArray, terminator);
    std::vector<Chunk> chunks;
    qint64 t = 0;
    for (const QByteArray &command : commands) {
        t += 10 * kMs;
        chunks.push_back(command.isEmpty() ? Chunk { Side::Device, "OK", t }
                                           : Chunk { Side::Host, command, t });
    }
    QCOMPARE(commonTerminator(stored(chunks)), terminator);
}

void tst_Recording::aRecordedInstrumentPlaysBack()
{
    for (quint64 seed = 1; seed <= 400; ++seed) {
        Profile::Rng rng(seed);
        const Session session = makeSession(rng);
        // 9600 bit/s, 10 bits a byte.
        const Exchanges recorded = inferExchanges(stored(session.chunks), kMs * 25 / 24);
        // A device name with a line break must not break the comment it is named in.
        const RecordingInfo info { "/dev/\nx", "9600,N,8,1", {}, {} };
        const QByteArray text = recordedProfileText(recorded, info);
        const QByteArray context = "seed " + QByteArray::number(seed) + ":\n" + text;
        const std::optional<Profile::Instrument> instrument = ProfileFixture::load(text);
        QVERIFY2(instrument, context.constData());
        QCOMPARE(recorded.unaskedBytes, session.unasked);
        if (session.steps.empty())
            QVERIFY2(instrument->rules.empty() && text.contains("Nothing was exchanged"),
                     context.constData());

        // Every answer the profile sends, with the time it is due.
        const auto responder = ProfileFixture::play(*instrument);
        const auto framer = responder->makeFramer();
        std::vector<std::pair<qint64, QByteArray>> sent;
        for (const Step &step : session.steps) {
            std::vector<Profile::Frame> frames;
            for (const Chunk &chunk : step.host) {
                const std::vector<Profile::Frame> more = framer->feed(chunk.bytes, chunk.atNs);
                frames.insert(frames.end(), more.begin(), more.end());
            }
            const std::vector<Profile::Frame> late = framer->expire(step.settledNs);
            frames.insert(frames.end(), late.begin(), late.end());
            for (const Profile::Frame &frame : frames) {
                const Profile::Reply reply = responder->reply(frame.bytes);
                QVERIFY2(reply.matched, context.constData());
                if (!reply.bytes.isEmpty())
                    sent.emplace_back(frame.completeNs + reply.delayNs, reply.bytes);
            }
        }
        std::stable_sort(sent.begin(), sent.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
        // A step's answer is what falls due before the host's next command, about when the
        // instrument sent it.
        for (size_t s = 0; s < session.steps.size(); ++s) {
            const Step &step = session.steps[s];
            const qint64 from = step.host.front().atNs;
            const qint64 to = s + 1 < session.steps.size() ? session.steps[s + 1].host.front().atNs
                                                           : std::numeric_limits<qint64>::max();
            QByteArray answer;
            qint64 firstDue = 0;
            for (const auto &[due, bytes] : sent) {
                if (due < from || due >= to)
                    continue;
                firstDue = answer.isEmpty() ? due : firstDue;
                answer += bytes;
            }
            const QByteArray where = context + "\nstep " + QByteArray::number(qulonglong(s)) + ": "
                    + answer.toHex() + " for " + step.answer.toHex();
            QVERIFY2(answer == step.answer, where.constData());
            if (!step.answered)
                continue;
            const std::vector<qint64> &seen = session.delays.at(step.command);
            const auto [low, high] = std::minmax_element(seen.begin(), seen.end());
            const qint64 sentAt = step.host.back().atNs + step.delayNs;
            QVERIFY2(qAbs(firstDue - sentAt) <= *high - *low + kMs, where.constData());
        }
    }
}

void tst_Recording::manyOneByteReadsStayCompactAndWithinTheBound()
{
    RecordedReads reads;
    size_t kept = 0;
    while (reads.append(kept % 3 ? Side::Host : Side::Device, QByteArray(1, char(kept)),
                        qint64(kept) * kMs)) {
        ++kept;
        if (kept == 100'000)
            QVERIFY2(reads.heldBytes() <= 100'000 * 34, QByteArray::number(reads.heldBytes()));
        QVERIFY(reads.heldBytes() <= RecordedReads::kMaxHeldBytes);
    }
    QCOMPARE(kept, RecordedReads::kMaxReads);
    for (size_t i : { size_t(0), size_t(1), kept / 2, kept - 1 }) {
        const Read read = reads.at(i);
        QCOMPARE(read.bytes, QByteArray(1, char(i)));
        QCOMPARE(read.from, i % 3 ? Side::Host : Side::Device);
        QCOMPARE(read.atNs, qint64(i) * kMs);
    }
    // Large reads meet the byte bound before the count.
    RecordedReads large;
    const QByteArray block(64 * 1024, 'x');
    while (large.append(Side::Host, block, 0))
        QVERIFY(large.heldBytes() <= RecordedReads::kMaxHeldBytes);
    QVERIFY(large.size() * block.size() > RecordedReads::kMaxHeldBytes * 3 / 4);
}

QTEST_GUILESS_MAIN(tst_Recording)
#include "tst_recording.moc"
