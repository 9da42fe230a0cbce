#include "session/outputline.h"
#include "virtualclock.h"

#include <QTest>

// The order in which the one output line puts items on the wire, on virtual time.
class tst_OutputLine : public QObject
{
    Q_OBJECT

private slots:
    void shouldPutItemsOnTheWireInTheirOrder_data();
    void shouldPutItemsOnTheWireInTheirOrder();
};

namespace {
constexpr qint64 kMs = 1'000'000;

// "a:abc@0+10 o:X@5^15": kind (a answer, o other), bytes, due ms, gap between bytes in ms,
// the ms at which it is queued (0 without).
std::vector<std::pair<qint64, OutputLine::Item>> items(const QByteArray &words)
{
    std::vector<std::pair<qint64, OutputLine::Item>> out;
    for (QByteArray word : words.split(' ')) {
        const qsizetype caret = word.indexOf('^');
        const qint64 queuedAt = caret < 0 ? 0 : word.mid(caret + 1).toLongLong() * kMs;
        word.truncate(caret < 0 ? word.size() : caret);
        OutputLine::Item item;
        item.kind = word.startsWith("a:") ? OutputLine::Kind::Answer : OutputLine::Kind::Other;
        const qsizetype at = word.indexOf('@');
        const qsizetype plus = word.indexOf('+', at);
        item.bytes = word.mid(2, at - 2);
        item.dueNs = word.mid(at + 1, plus < 0 ? -1 : plus - at - 1).toLongLong() * kMs;
        item.byteGapNs = plus < 0 ? 0 : word.mid(plus + 1).toLongLong() * kMs;
        out.emplace_back(queuedAt, std::move(item));
    }
    return out;
}
} // namespace

void tst_OutputLine::shouldPutItemsOnTheWireInTheirOrder_data()
{
    QTest::addColumn<QByteArray>("queued");
    QTest::addColumn<int>("cutAtMs"); // answers cut then; -1 never
    QTest::addColumn<QByteArray>("wire"); // each write: bytes@ms
    QTest::addColumn<QByteArray>("done"); // each item done: bytes sent, '!' when refused
    QTest::newRow("by due time") << QByteArray("o:A@20 o:B@10") << -1 << QByteArray("B@10 A@20")
                                 << QByteArray("B A");
    QTest::newRow("an item on the wire finishes first")
            << QByteArray("a:abc@10+10 o:X@5^15") << -1 << QByteArray("a@10 b@20 c@30 X@30")
            << QByteArray("abc X");
    QTest::newRow("answers keep the order of their commands")
            << QByteArray("a:A@50 a:B@10") << -1 << QByteArray("A@50 B@50") << QByteArray("A B");
    QTest::newRow("other output is not held behind a delayed answer")
            << QByteArray("a:A@100 o:X@10") << -1 << QByteArray("X@10 A@100")
            << QByteArray("X A");
    QTest::newRow("a stop cuts answers, the one on the wire too")
            << QByteArray("a:abc@0+10 a:D@12 o:X@30") << 15 << QByteArray("a@0 b@10 X@30")
            << QByteArray("ab! ! X");
}

void tst_OutputLine::shouldPutItemsOnTheWireInTheirOrder()
{
    QFETCH(QByteArray, queued);
    QFETCH(int, cutAtMs);
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, done);
    VirtualClock clock;
    QByteArrayList written;
    OutputLine line(clock, [&](const QByteArray &bytes, QString *) {
        written.append(bytes + '@' + QByteArray::number(clock.nowNs() / kMs));
        return true;
    });
    QByteArrayList finished;
    for (auto &[queuedAt, item] : items(queued)) {
        item.done = [&](const QByteArray &sent, const QString &refusal) {
            finished.append(refusal.isEmpty() ? sent : sent + '!');
        };
        clock.schedule(queuedAt, [&line, item]() mutable { line.enqueue(std::move(item)); }, false);
    }
    if (cutAtMs >= 0)
        clock.schedule(cutAtMs * kMs, [&] { line.cutAnswers(QStringLiteral("stopped")); }, false);
    clock.waitUntil(1000 * kMs);
    QCOMPARE(written.join(' '), wire);
    QCOMPARE(finished.join(' '), done);
    QVERIFY(line.isIdle());
}

QTEST_GUILESS_MAIN(tst_OutputLine)
#include "tst_outputline.moc"
