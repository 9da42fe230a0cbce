#include "profilefixture.h"

#include <QTest>

using namespace Profile;

// The loader refuses every broken profile with the place and the reason, and plays the
// documented example as written.
class tst_ProfileLoader : public QObject
{
    Q_OBJECT

private slots:
    void shouldRefuseBadProfile_data();
    void shouldRefuseBadProfile();
    void shouldPlayTheDocumentedExample();
    void shouldNameTheFileThatCannotBeRead();
};

void tst_ProfileLoader::shouldRefuseBadProfile_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("message");
    const QByteArray rule = "[[rule]]\nmatch = \"A\"\n";
    const QByteArray stored = "[values.v]\ninitial = \"0\"\n";

    QTest::newRow("syntax") << QByteArray("seed = \n")
                            << "bad.toml:1:8: Error while parsing key-value pair: "
                               "expected value, saw '\\n'";
    QTest::newRow("top-level typo") << QByteArray("sed = 7\n") << "bad.toml:1:1: unknown key 'sed'";
    QTest::newRow("negative seed")
        << QByteArray("seed = -1\n") << "bad.toml:1:8: 'seed' must be a whole number from 0";
    QTest::newRow("every problem, in file order")
        << QByteArray("[framing]\nterminater = \"[CR]\"\n")
        << "bad.toml:1:1: [framing] needs terminator, gap_ms, length or window_ms\n"
           "bad.toml:2:1: unknown key 'terminater'";
    QTest::newRow("two framings")
        << QByteArray("[framing]\nterminator = \"[CR]\"\nlength = 4\n")
        << "bad.toml:1:1: terminator, length and window_ms exclude each other";
    QTest::newRow("unknown bracket name") << QByteArray("[framing]\nterminator = \"[CRLF]\"\n")
                                          << "bad.toml:2:14: unknown name [CRLF]";
    QTest::newRow("STX is no name")
        << QByteArray("[[rule]]\nmatch = \"[STX]A\"\n") << "bad.toml:2:9: unknown name [STX]";
    QTest::newRow("open bracket")
        << QByteArray("[[rule]]\nmatch = \"A[CR\"\n")
        << "bad.toml:2:9: '[' without ']' (write [x5B] for the character)";
    QTest::newRow("outside code page 932") << QByteArray("[[rule]]\nmatch = \"\xE2\x82\xAC\"\n")
                                           << "bad.toml:2:9: '\u20AC' has no code page 932 byte";
    QTest::newRow("unknown value") << rule + "answer = \"{wieght}\"\n"
                                   << "bad.toml:3:10: unknown value or placeholder {wieght}";
    QTest::newRow("open brace") << rule + "answer = \"{v\"\n"
                                << "bad.toml:3:10: '{' without '}' (write {{ for the character)";
    QTest::newRow("capture beyond the groups")
        << QByteArray("[[rule]]\nregex = 'A(.)'\nanswer = \"{2}\"\n")
        << "bad.toml:3:10: {2}: the rule has 1 capture group(s)";
    QTest::newRow("capture in continuous") << QByteArray("[continuous]\ntext = \"{1}\"\n")
                                           << "bad.toml:2:8: {1}: captures exist only in the "
                                              "answers of rules";
    QTest::newRow("checksum form") << rule + "answer = \"{sum8:dec}\"\n"
                                   << "bad.toml:3:10: {sum8:dec}: a checksum takes :bin or :hex";
    QTest::newRow("form on a value") << stored + rule + "answer = \"{v:bin}\"\n"
                                     << "bad.toml:5:10: {v:bin}: only checksums take :bin or :hex";
    QTest::newRow("bad regex") << QByteArray("[[rule]]\nregex = 'A('\nanswer = \"{1}\"\n")
                               << "bad.toml:2:9: bad regex: missing closing parenthesis";
    QTest::newRow("rule without command")
        << QByteArray("[[rule]]\nanswer = \"x\"\n") << "bad.toml:1:1: a rule needs match or regex";
    QTest::newRow("match and regex") << rule + "regex = 'A'\n"
                                     << "bad.toml:1:1: match and regex exclude each other";
    QTest::newRow("rule as one table") << QByteArray("[rule]\nmatch = \"A\"\n")
                                       << "bad.toml:1:1: 'rule' must be tables: write [[rule]]";
    QTest::newRow("rule typo") << rule + "delai_ms = 20\n"
                               << "bad.toml:3:1: unknown key 'delai_ms'";
    QTest::newRow("delay as text") << rule + "delay_ms = \"20\"\n"
                                   << "bad.toml:3:12: 'delay_ms' must be a whole number from 0 to "
                                      "3600000, or [low, high] of such";
    QTest::newRow("delay range reversed") << rule + "delay_ms = [40, 10]\n"
                                          << "bad.toml:3:12: 'delay_ms' must be a whole number "
                                             "from 0 to 3600000, or [low, high] of such";
    QTest::newRow("duplicate names") << rule + "name = \"a\"\n" + rule + "name = \"a\"\n"
                                     << "bad.toml:6:8: rule name 'a' is used twice";
    QTest::newRow("fault without trigger") << rule + "drop = {}\n"
                                           << "bad.toml:3:8: drop needs every or probability";
    QTest::newRow("probability above 1") << QByteArray("[faults]\ndrop = { probability = 1.5 }\n")
                                         << "bad.toml:2:24: 'probability' must be a number from "
                                            "0 to 1";
    QTest::newRow("fault typo") << rule + "truncate = { every = 2, keeep = 1 }\n"
                                << "bad.toml:3:25: unknown key 'keeep'";
    QTest::newRow("pace") << rule + "pace = \"fast\"\n"
                          << "bad.toml:3:8: 'pace' must be \"baud\" or \"none\"";
    QTest::newRow("value without kind") << QByteArray("[values.x]\nformat = \"%d\"\n")
                                        << "bad.toml:1:1: value 'x' needs one of random, walk, "
                                           "sequence, counter, clock, initial";
    QTest::newRow("value of two kinds")
        << QByteArray("[values.x]\ninitial = \"1\"\nrandom = [1, 2]\n")
        << "bad.toml:1:1: value 'x' has both random and initial";
    QTest::newRow("two conversions")
        << stored + "format = \"%d %d\"\n"
        << "bad.toml:3:10: format '%d %d' has more than one conversion";
    QTest::newRow("unknown conversion") << stored + "format = \"%q\"\n"
                                        << "bad.toml:3:10: format '%q' needs one conversion of d i "
                                           "u o x X f F e E g G s, or u8, be16, le16, be32, le32";
    QTest::newRow("walk outside its bounds")
        << QByteArray("[values.w]\nwalk = { start = 5, step = 1, max = 4 }\n")
        << "bad.toml:2:8: walk: start lies outside [min, max]";
    QTest::newRow("random reversed")
        << QByteArray("[values.r]\nrandom = [2, 1]\n")
        << "bad.toml:2:10: 'random' must be [low, high] with low <= high";
    QTest::newRow("empty sequence") << QByteArray("[values.s]\nsequence = []\n")
                                    << "bad.toml:2:12: 'sequence' must be a non-empty array";
    QTest::newRow("bad clock") << QByteArray("[values.c]\nclock = \"%H:%Q\"\n")
                               << "bad.toml:2:9: clock format '%H:%Q' knows %Y %y %m %d %H %I %M "
                                  "%S %p %j %L and %%";
    QTest::newRow("built-in name") << QByteArray("[values.time]\ninitial = \"0\"\n")
                                   << "bad.toml:1:9: value name 'time' is a built-in placeholder";
    QTest::newRow("set a reading")
        << QByteArray("[values.r]\nrandom = [1, 2]\n") + rule + "set = { r = \"1\" }\n"
        << "bad.toml:5:9: value 'r' has no initial text and cannot be set";
    QTest::newRow("set an unknown value") << rule + "set = { q = \"1\" }\n"
                                          << "bad.toml:3:9: unknown value 'q'";
    QTest::newRow("text as a number") << QByteArray("[framing]\nterminator = 13\n")
                                      << "bad.toml:2:14: 'terminator' must be a string";
    QTest::newRow("flag as text") << QByteArray("[faults]\ndrop = { every = 2, enabled = \"no\" }\n")
                                  << "bad.toml:2:31: 'enabled' must be true or false";
    QTest::newRow("table as a number") << QByteArray("framing = 3\n")
                                       << "bad.toml:1:11: 'framing' must be a table";
    QTest::newRow("continuous without text")
        << QByteArray("[continuous]\n") << "bad.toml:1:1: [continuous] needs text";
}

void tst_ProfileLoader::shouldRefuseBadProfile()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, message);
    QString error;
    const std::optional<Instrument> instrument = loadProfileText(text, "bad.toml", &error);
    QVERIFY(!instrument);
    QCOMPARE(error, message);
}

void tst_ProfileLoader::shouldPlayTheDocumentedExample()
{
    const QByteArray text = R"(seed = 7
[framing]
terminator = "[CR][LF]"

[values.weight]
walk = { start = 100.0, step = 0.5, min = 0.0, max = 500.0 }
format = "%+08.2f"

[values.target]
initial = "0"

[[rule]]
match = "W[CR][LF]"
answer = "{weight} g[CR][LF]"
delay_ms = 20

[[rule]]
regex = 'SET ([0-9.]+)\r\n'
set = { target = "{1}" }
answer = "OK[CR][LF]"

[[rule]]
match = "T?[CR][LF]"
answer = "{target}[CR][LF]"

[continuous]
text = "{weight} g[CR][LF]"
)";
    const std::optional<Instrument> instrument = ProfileFixture::load(text);
    QVERIFY(instrument);
    QCOMPARE(instrument->seed, std::optional<quint64>(7));
    QCOMPARE(int(instrument->framing.mode), int(Framing::Mode::Terminator));
    const auto responder = ProfileFixture::play(*instrument, 7);

    const Reply weigh = responder->reply("W\r\n");
    QCOMPARE(weigh.rule, QStringLiteral("rule 1"));
    QCOMPARE(weigh.bytes, QByteArray("+0100.00 g\r\n"));
    QCOMPARE(weigh.delayNs, 20'000'000);
    QCOMPARE(responder->reply("T?\r\n").bytes, QByteArray("0\r\n"));
    const Reply set = responder->reply("SET 12.5\r\n");
    QCOMPARE(set.rule, QStringLiteral("rule 2"));
    QCOMPARE(set.bytes, QByteArray("OK\r\n"));
    QCOMPARE(responder->reply("T?\r\n").bytes, QByteArray("12.5\r\n"));
    const Reply unknown = responder->reply("X\r\n");
    QVERIFY(!unknown.matched);
    QVERIFY(unknown.bytes.isEmpty());

    // The walk moves by at most its step with every reading.
    const double before = weigh.bytes.left(8).toDouble();
    const double after = responder->continuousText().left(8).toDouble();
    QVERIFY(qAbs(after - before) <= 0.5 && after != before);
}

void tst_ProfileLoader::shouldNameTheFileThatCannotBeRead()
{
    QString error;
    QVERIFY(!loadProfileFile(QStringLiteral("/nonexistent/Instrument.toml"), &error));
    QVERIFY2(error.startsWith(QLatin1String("/nonexistent/Instrument.toml: ")), qPrintable(error));
}

QTEST_GUILESS_MAIN(tst_ProfileLoader)
#include "tst_profileloader.moc"
