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
    const auto row = [](const char *name, const QByteArray &text, const char *problems) {
        QTest::newRow(name) << text << QString::fromUtf8(problems);
    };
    const QByteArray rule = "[[rule]]\nmatch = \"A\"\n";
    const QByteArray stored = "[values.v]\ninitial = \"0\"\n";

    row("syntax", "seed = \n",
        "1:8: Error while parsing key-value pair: expected value, saw '\\n'");
    row("top-level typo", "sed = 7\n", "1:1: unknown key 'sed'");
    row("negative seed", "seed = -1\n", "1:8: 'seed' must be a whole number from 0");
    row("every problem, in file order", "[framing]\nterminater = \"[CR]\"\n",
        "1:1: [framing] needs terminator, gap_ms, length or window_ms\n"
        "2:1: unknown key 'terminater'");
    row("two framings", "[framing]\nterminator = \"[CR]\"\nlength = 4\n",
        "1:1: terminator, length and window_ms exclude each other");
    row("framing by what", "[framing]\nby = \"silence\"\n", "2:6: 'by' must be \"rules\"");
    row("rules and a terminator", "[framing]\nby = \"rules\"\nterminator = \"[CR]\"\n",
        "1:1: by does not go with terminator, length or window_ms");
    row("unknown bracket name", "[framing]\nterminator = \"[CRLF]\"\n",
        "2:14: unknown name [CRLF]");
    row("STX is no name", "[[rule]]\nmatch = \"[STX]A\"\n", "2:9: unknown name [STX]");
    row("open bracket", "[[rule]]\nmatch = \"A[CR\"\n",
        "2:9: '[' without ']' (write [x5B] for the character)");
    row("outside code page 932", "[[rule]]\nmatch = \"\xE2\x82\xAC\"\n",
        "2:9: '\u20AC' has no code page 932 byte");
    row("unknown value", rule + "answer = \"{wieght}\"\n",
        "3:10: unknown value or placeholder {wieght}");
    row("open brace", rule + "answer = \"{v\"\n",
        "3:10: '{' without '}' (write {{ for the character)");
    row("capture beyond the groups", "[[rule]]\nregex = 'A(.)'\nanswer = \"{2}\"\n",
        "3:10: {2}: the rule has 1 capture group(s)");
    row("capture in continuous", "[continuous]\ntext = \"{1}\"\n",
        "2:8: {1}: captures exist only in the answers of rules");
    row("checksum form", rule + "answer = \"{sum8:dec}\"\n",
        "3:10: {sum8:dec}: a checksum takes :bin or :hex");
    row("form on a value", stored + rule + "answer = \"{v:bin}\"\n",
        "5:10: {v:bin}: only checksums take :bin or :hex");
    row("bad regex", "[[rule]]\nregex = 'A('\nanswer = \"{1}\"\n",
        "2:9: bad regex: missing closing parenthesis");
    row("rule without command", "[[rule]]\nanswer = \"x\"\n", "1:1: a rule needs match or regex");
    row("match and regex", rule + "regex = 'A'\n", "1:1: match and regex exclude each other");
    row("rule as one table", "[rule]\nmatch = \"A\"\n",
        "1:1: 'rule' must be tables: write [[rule]]");
    row("rule typo", rule + "delai_ms = 20\n", "3:1: unknown key 'delai_ms'");
    row("delay as text", rule + "delay_ms = \"20\"\n",
        "3:12: 'delay_ms' must be a whole number from 0 to 3600000, or [low, high] of such");
    row("delay range reversed", rule + "delay_ms = [40, 10]\n",
        "3:12: 'delay_ms' must be a whole number from 0 to 3600000, or [low, high] of such");
    row("duplicate names", rule + "name = \"a\"\n" + rule + "name = \"a\"\n",
        "6:8: rule name 'a' is used twice");
    row("fault without trigger", rule + "drop = {}\n", "3:8: drop needs every or probability");
    row("probability above 1", "[faults]\ndrop = { probability = 1.5 }\n",
        "2:24: 'probability' must be a number from 0 to 1");
    row("fault typo", rule + "truncate = { every = 2, keeep = 1 }\n", "3:25: unknown key 'keeep'");
    row("pace", rule + "pace = \"fast\"\n", "3:8: 'pace' must be \"baud\" or \"none\"");
    row("line pace", "[line]\npace = \"baud\"\n", "2:8: 'pace' must be \"line\" or \"none\"");
    row("a line that is no modem line", rule + "lines = { rts = false }\n", "3:11: unknown key 'rts'");
    row("a break with a match", "[[rule]]\nbreak = true\nmatch = \"A\"\n",
        "1:1: a rule for a break takes no match or regex");
    row("flow of no kind", "[line]\nflow = \"dtrdsr\"\n",
        "2:8: 'flow' must be \"none\", \"xonxoff\" or \"rtscts\"");
    row("no buffer", "[line]\nbuffer = 0\n", "2:10: 'buffer' must be a whole number from 1 to 1048576");
    row("a line set to no truth", "[line]\ncts = 0\n", "2:7: 'cts' must be true or false");
    row("value without kind", "[values.x]\nformat = \"%d\"\n",
        "1:1: value 'x' needs one of random, walk, sequence, counter, clock, initial");
    row("value of two kinds", "[values.x]\ninitial = \"1\"\nrandom = [1, 2]\n",
        "1:1: value 'x' has both random and initial");
    row("two conversions", stored + "format = \"%d %d\"\n",
        "3:10: format '%d %d' has more than one conversion");
    row("unknown conversion", stored + "format = \"%q\"\n",
        "3:10: format '%q' needs one conversion of d i u o x X f F e E g G s, or u8, be16, le16, "
        "be32, le32");
    row("walk outside its bounds", "[values.w]\nwalk = { start = 5, step = 1, max = 4 }\n",
        "2:8: walk: start lies outside [min, max]");
    row("random reversed", "[values.r]\nrandom = [2, 1]\n",
        "2:10: 'random' must be [low, high] with low <= high");
    row("random of nan", "[values.r]\nrandom = [nan, nan]\n",
        "2:10: 'random' must be [low, high] with low <= high");
    row("random to infinity", "[values.r]\nrandom = [0, inf]\n",
        "2:10: 'random' bounds must lie between -2^53 and 2^53");
    row("random over 64 bits", "[values.r]\nrandom = [-9223372036854775808, 9223372036854775807]\n",
        "2:10: 'random' bounds must lie between -2^53 and 2^53");
    row("walk to infinity", "[values.w]\nwalk = { start = 0, step = 1, max = inf }\n",
        "2:37: 'max' must be a finite number");
    row("counter past exact numbers", "[values.c]\ncounter = { start = 9007199254740993 }\n",
        "2:11: counter: start, step and max must lie between -2^53 and 2^53");
    row("counter step lost", "[values.c]\ncounter = { start = 1e15, step = 0.01 }\n",
        "2:11: counter: step is too small to change start or max");
    row("counter step of nan", "[values.c]\ncounter = { step = nan }\n",
        "2:20: 'step' must be a finite number");
    row("terminator beyond max_bytes", "[framing]\nterminator = \"[CR][LF]\"\nmax_bytes = 1\n",
        "2:14: 'terminator' is longer than max_bytes");
    row("line without speed", "[line]\ndata_bits = 7\n", "1:1: [line] needs speed");
    row("line parity", "[line]\nspeed = 9600\nparity = \"X\"\n",
        "3:10: 'parity' must be \"N\", \"E\" or \"O\"");
    row("line stop bits", "[line]\nspeed = 9600\nstop_bits = 3\n", "3:13: 'stop_bits' must be 1, 1.5 or 2");
    row("continuous align", "[continuous]\ntext = \"x\"\nalign = \"minute\"\n",
        "3:9: 'align' must be \"second\"");
    row("continuous switch", rule + "continuous = \"yes\"\n", "3:14: 'continuous' must be \"on\" or \"off\"");
    row("answer and parts", rule + "answer = \"x\"\n[[rule.part]]\ntext = \"y\"\n",
        "4:1: answer and part exclude each other");
    row("part without text", rule + "[[rule.part]]\ndelay_ms = 5\n", "3:1: a part needs text");
    row("utc on a stored value", stored + "utc = true\n", "3:7: only a clock value takes 'utc'");
    row("empty sequence", "[values.s]\nsequence = []\n",
        "2:12: 'sequence' must be a non-empty array");
    row("bad clock", "[values.c]\nclock = \"%H:%Q\"\n",
        "2:9: clock format '%H:%Q' knows %Y %y %m %d %H %I %M %S %p %j %L and %%");
    row("built-in name", "[values.time]\ninitial = \"0\"\n",
        "1:9: value name 'time' is a built-in placeholder");
    row("set a reading",
        QByteArray("[values.r]\nrandom = [1, 2]\n") + rule + "set = { r = \"1\" }\n",
        "5:9: value 'r' has no initial text and cannot be set");
    row("set an unknown value", rule + "set = { q = \"1\" }\n", "3:9: unknown value 'q'");
    row("text as a number", "[framing]\nterminator = 13\n", "2:14: 'terminator' must be a string");
    row("flag as text", "[faults]\ndrop = { every = 2, enabled = \"no\" }\n",
        "2:31: 'enabled' must be true or false");
    row("table as a number", "framing = 3\n", "1:11: 'framing' must be a table");
    row("continuous without text", "[continuous]\n", "1:1: [continuous] needs text");
}

void tst_ProfileLoader::shouldRefuseBadProfile()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, message);
    QString error;
    const std::optional<Instrument> instrument = loadProfileText(text, "bad.toml", &error);
    QVERIFY(!instrument);
    // Every problem is named at its place in the file.
    QCOMPARE(error, "bad.toml:" + message.replace(QLatin1Char('\n'), QLatin1String("\nbad.toml:")));
}

void tst_ProfileLoader::shouldPlayTheDocumentedExample()
{
    // The walk-through of docs/profiles.md, comments and all.
    QString error;
    const std::optional<Instrument> instrument
        = loadProfileFile(QStringLiteral(KALO_TESTS_DIR "/golden/Instrument.toml"), &error);
    QVERIFY2(instrument, qPrintable(error));
    // Framing, default rule names and unmatched commands are judged where they are played.
    QCOMPARE(instrument->seed, std::optional<quint64>(7));
    const auto responder = ProfileFixture::play(*instrument, 7);
    const Reply weigh = responder->reply("W\r\n");
    QCOMPARE(weigh.bytes, QByteArray("+0100.00 g\r\n"));
    QCOMPARE(weigh.delayNs, 20'000'000);
    QCOMPARE(responder->reply("T?\r\n").bytes, QByteArray("0\r\n"));
    QCOMPARE(responder->reply("SET 12.5\r\n").bytes, QByteArray("OK\r\n"));
    QCOMPARE(responder->reply("T?\r\n").bytes, QByteArray("12.5\r\n"));

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
