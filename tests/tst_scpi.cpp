#include "profile/scpi/headerpattern.h"
#include "profile/scpi/programmessage.h"
#include "profilefixture.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Profile;

// SCPI as a profile's [scpi] table plays it: the header notation, the program message
// parser, and the error queue and status model seen from the host's side of the responder.
class tst_Scpi : public QObject
{
    Q_OBJECT

private slots:
    void headerNotation_data();
    void headerNotation();
    void programMessage_data();
    void programMessage();
    void exchange_data();
    void exchange();
    void scriptedCommands_data();
    void scriptedCommands();
    void refusedTables_data();
    void refusedTables();
    void randomMessagesKeepTheQueueInOrder();
};

namespace {
// "a|b" for the units' headers and parameters, "!" for a unit refused as no command, a
// quoted parameter with a leading q.
QByteArray rendered(const std::vector<Scpi::ProgramUnit> &units)
{
    QByteArrayList out;
    for (const Scpi::ProgramUnit &unit : units) {
        if (unit.syntaxError) {
            out << "!";
            continue;
        }
        QByteArray text = unit.text.split(' ').first();
        for (const Scpi::Parameter &p : unit.parameters)
            text += "|" + (p.quoted ? "q" + p.text : p.text);
        out << text;
    }
    return out.join(" ; ");
}

std::unique_ptr<Responder> meter()
{
    return ProfileFixture::playExample("scpi-dmm.toml");
}
} // namespace

void tst_Scpi::headerNotation_data()
{
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("suffix"); // 0: no match
    QTest::newRow("short") << QByteArray("MEASure:VOLTage[:DC]?") << QByteArray("MEAS:VOLT?") << 1;
    QTest::newRow("long, lower case") << QByteArray("MEASure:VOLTage[:DC]?")
                                      << QByteArray("measure:voltage:dc?") << 1;
    QTest::newRow("between the forms") << QByteArray("MEASure:VOLTage?") << QByteArray("MEASU:VOLT?") << 0;
    QTest::newRow("another node") << QByteArray("MEASure:VOLTage[:DC]?") << QByteArray("MEAS:VOLT:AC?") << 0;
    QTest::newRow("not a query") << QByteArray("MEASure:VOLTage?") << QByteArray("MEAS:VOLT") << 0;
    QTest::newRow("all optional in") << QByteArray("[SENSe:]VOLTage[:DC]:RANGe[:UPPer]")
                                     << QByteArray("SENS:VOLT:DC:RANG:UPP") << 1;
    QTest::newRow("all optional out") << QByteArray("[SENSe:]VOLTage[:DC]:RANGe[:UPPer]")
                                      << QByteArray(":VOLT:RANG") << 1;
    QTest::newRow("required left out") << QByteArray("[SENSe:]VOLTage[:DC]:RANGe[:UPPer]")
                                       << QByteArray("VOLT:UPP") << 0;
    QTest::newRow("suffix") << QByteArray("OUTPut<n>:STATe") << QByteArray("OUTP2:STAT") << 2;
    QTest::newRow("suffix unsaid") << QByteArray("OUTPut<n>:STATe") << QByteArray("output:state") << 1;
    QTest::newRow("suffix 1 where none") << QByteArray("INITiate") << QByteArray("INIT1") << 1;
    QTest::newRow("suffix 2 where none") << QByteArray("INITiate") << QByteArray("INIT2") << 0;
    QTest::newRow("digit of the keyword") << QByteArray("CH1:SCALe") << QByteArray("ch1:scal") << 1;
    QTest::newRow("common") << QByteArray("*IDN?") << QByteArray("*idn?") << 1;
}

void tst_Scpi::headerNotation()
{
    QFETCH(QByteArray, pattern);
    QFETCH(QByteArray, sent);
    QFETCH(int, suffix);
    QString error;
    const std::optional<Scpi::HeaderPattern> header = Scpi::HeaderPattern::parse(pattern, &error);
    QVERIFY2(header, qPrintable(error));
    Scpi::ReceivedHeader received;
    QVERIFY(Scpi::ReceivedHeader::parse(sent, &received));
    std::vector<const Scpi::ReceivedNode *> path;
    for (const Scpi::ReceivedNode &node : received.nodes)
        path.push_back(&node);
    Scpi::HeaderPattern::Suffixes suffixes;
    const bool matched = header->matches(path, &suffixes) && header->isQuery() == received.query;
    QCOMPARE(matched, suffix > 0);
    if (matched && !suffixes.isEmpty())
        QCOMPARE(suffixes[0], suffix);
}

void tst_Scpi::programMessage_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("units");
    QTest::newRow("levels, CR") << QByteArray("CONF:VOLT:DC;:READ?\r") << QByteArray("CONF:VOLT:DC ; :READ?");
    QTest::newRow("quotes hold ; and ,") << QByteArray("FUNC \"VOLT;AC\" , 'a,b'")
                                          << QByteArray("FUNC|qVOLT;AC|qa,b");
    QTest::newRow("doubled quote") << QByteArray("DISP:TEXT \"say \"\"hi\"\"\"")
                                   << QByteArray("DISP:TEXT|qsay \"hi\"");
    QTest::newRow("numbers, spaces") << QByteArray("  APPL  1.5E+1,  MAX ;*OPC?")
                                     << QByteArray("APPL|1.5E+1|MAX ; *OPC?");
    QTest::newRow("trailing ;") << QByteArray("*IDN?;") << QByteArray("*IDN?");
    QTest::newRow("empty parameter") << QByteArray("A 1,,2;B") << QByteArray("! ; B");
    QTest::newRow("open quote") << QByteArray("FUNC \"VOLT;*IDN?") << QByteArray("!");
    QTest::newRow("after the quote") << QByteArray("FUNC \"A\"B") << QByteArray("!");
    QTest::newRow("empty node") << QByteArray("SENS::VOLT?;:*IDN?") << QByteArray("! ; !");
}

void tst_Scpi::programMessage()
{
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, units);
    QCOMPARE(rendered(Scpi::parseProgramMessage(message)), units);
}

void tst_Scpi::exchange_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("level rule") << QByteArray("VOLT:RANG 100;RANG?\n") << QByteArray("+1.00000000E+02\n");
    QTest::newRow("level kept past *") << QByteArray("VOLT:RANG 2;*OPC;RANG?\n") << QByteArray("+2.00000000E+00\n");
    QTest::newRow("level left") << QByteArray("CONF:VOLT:AC;READ?;:SYST:ERR?\n")
                                << QByteArray("-113,\"Undefined header\"\n");
    QTest::newRow("choice, any case") << QByteArray("FUNC \"volt:ac\";FUNC?\r\n") << QByteArray("\"VOLT:AC\"\n");
    QTest::newRow("choice, long form") << QByteArray("FUNC 'RESISTANCE';:CONF?\n") << QByteArray("\"RES\"\n");
    QTest::newRow("choice refused") << QByteArray("FUNC \"OHMS\";FUNC?;:SYST:ERR?\n")
                                    << QByteArray("\"VOLT:DC\";-224,\"Illegal parameter value\"\n");
    QTest::newRow("MAX, MIN?") << QByteArray("VOLT:RANG MAX;RANG?;RANG? MIN\n")
                               << QByteArray("+1.00000000E+03;+1.00000000E-01\n");
    QTest::newRow("out of range kept") << QByteArray("VOLT:RANG 1e9;RANG?;:SYST:ERR?\n")
                                       << QByteArray("+1.00000000E+01;-222,\"Data out of range\"\n");
    QTest::newRow("no number") << QByteArray("VOLT:RANG 10V;:SYST:ERR?\n") << QByteArray("-104,\"Data type error\"\n");
    QTest::newRow("missing, not allowed") << QByteArray("VOLT:RANG;:READ? 1;*RST 1;SYST:ERR?;:SYST:ERR?;ERR?\n")
        << QByteArray("-109,\"Missing parameter\";-108,\"Parameter not allowed\";-108,\"Parameter not allowed\"\n");
    QTest::newRow("query of a command") << QByteArray("CONF:VOLT:DC?;:SYST:ERR?;ERR?\n")
                                        << QByteArray("-113,\"Undefined header\";+0,\"No error\"\n");
    QTest::newRow("syntax") << QByteArray("FUNC \"A\"B;SYST:ERR?\n") << QByteArray("-102,\"Syntax error\"\n");
    QTest::newRow("status") << QByteArray("*ESE 32;FOO;*STB?;*ESR?;*STB?;*ESE?\n") << QByteArray("36;32;4;32\n");
    QTest::newRow("*CLS") << QByteArray("FOO;*CLS;*STB?;SYST:ERR:COUN?\n") << QByteArray("0;0\n");
    QTest::newRow("*OPC") << QByteArray("*OPC;*ESR?;*OPC?;*TST?;*WAI\n") << QByteArray("1;1;0\n");
    QTest::newRow("*RST") << QByteArray("FUNC \"VOLT:AC\";VOLT:RANG 1;*RST;:FUNC?;:VOLT:RANG?\n")
                          << QByteArray("\"VOLT:DC\";+1.00000000E+01\n");
    QTest::newRow("*IDN?;*OPC?") << QByteArray("*idn?;*OPC?\r\n") << QByteArray("KALO,DMM-6500,0001,1.01;1\n");
    QTest::newRow("no query, no answer") << QByteArray("CONF:RES;*CLS\n") << QByteArray();
}

void tst_Scpi::exchange()
{
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, answer);
    const std::unique_ptr<Responder> responder = meter();
    QVERIFY(responder);
    const Reply reply = responder->reply(message);
    QVERIFY2(reply.matched, qPrintable(reply.failure));
    QCOMPARE(reply.bytes, answer);
}

// Parameters in Lua, a suffix, the profile's *RST and on_reset(), rules first, Lua errors.
void tst_Scpi::scriptedCommands_data()
{
    QTest::addColumn<QByteArrayList>("messages");
    QTest::addColumn<QByteArrayList>("answers"); // "-": unanswered, with the Lua error
    QTest::newRow("arg and suffix") << QByteArrayList { "OUTP2:LEV 3;LEV?\n", "OUTP:LEV?\n" }
                                    << QByteArrayList { "2:6\n", "1:6\n" };
    QTest::newRow("rule first") << QByteArrayList { "PING\n" } << QByteArrayList { "PONG\n" };
    QTest::newRow("*RST of the profile") << QByteArrayList { "OUTP:LEV 1;*RST;:OUTP:LEV?;:RESETS?\n" }
                                         << QByteArrayList { "1:7;1\n" };
    QTest::newRow("Lua error") << QByteArrayList { "*OPC?;FAIL?\n", "SYST:ERR?;*IDN?;:SYST:ERR?\n" }
                               << QByteArrayList { "-", "-300,\"Device-specific error\";-113,\"Undefined header\"\n" };
}

void tst_Scpi::scriptedCommands()
{
    QFETCH(QByteArrayList, messages);
    QFETCH(QByteArrayList, answers);
    const QTemporaryDir folder;
    QFile script(folder.filePath(QStringLiteral("s.lua")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("resets = 0\nfunction on_reset() resets = resets + 1 end\n");
    script.close();
    QString error;
    const std::optional<Instrument> instrument = loadProfileText(R"(script = "s.lua"
[framing]
terminator = "[LF]"
[values.level]
initial = 0
[[rule]]
match = "PING[LF]"
answer = "PONG[LF]"
[[scpi.command]]
header = "OUTPut<ch>:LEVel"
parameters = 1
set = { level = "{= tonumber(arg[1]) * ch }" }
[[scpi.command]]
header = "OUTPut<ch>:LEVel?"
answer = "{ch}:{level}"
[[scpi.command]]
header = "*RST"
set = { level = "7" }
[[scpi.command]]
header = "FAIL?"
answer = "{= nosuch() }"
[[scpi.command]]
header = "RESETS?"
answer = "{= resets }"
)", folder.filePath(QStringLiteral("t.toml")), &error);
    QVERIFY2(instrument, qPrintable(error));
    Responder responder(*instrument, 1);
    for (qsizetype i = 0; i < messages.size(); ++i) {
        const Reply reply = responder.reply(messages[i]);
        QCOMPARE(reply.failure.isEmpty(), answers[i] != "-");
        QCOMPARE(reply.bytes, answers[i] == "-" ? QByteArray() : answers[i]);
    }
}

void tst_Scpi::refusedTables_data()
{
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QString>("problem");
    QTest::newRow("notation") << QByteArray("[[scpi.command]]\nheader = \"MeAS?\"\nanswer = \"1\"\n")
                              << "t.toml:4:10: header 'MeAS?': 'MeAS' is no keyword";
    QTest::newRow("answer of a command") << QByteArray("[[scpi.command]]\nheader = \"INIT\"\nanswer = \"1\"\n")
                                         << "t.toml:5:10: a command that is not a query never answers";
    QTest::newRow("query property") << QByteArray("[[scpi.property]]\nname = \"v\"\nheader = \"VOLT?\"\ninitial = 1\n")
                                    << "t.toml:5:10: a property's header is a plain setting";
    QTest::newRow("initial no choice") << QByteArray("[[scpi.property]]\nname = \"v\"\nheader = \"MODE\"\n"
                                                     "initial = 'X'\nchoices = ['A']\n")
                                       << "t.toml:6:11: 'initial' must be one of the choices";
    QTest::newRow("name of Lua") << QByteArray("[[scpi.property]]\nname = \"end\"\nheader = \"MODE\"\ninitial = 1\n")
                                 << "t.toml:4:8: value name 'end' is a word of Lua";
    QTest::newRow("parameter unknown") << QByteArray("[[scpi.command]]\nheader = \"X?\"\nparameters = 1\nanswer = \"{2}\"\n")
                                       << "t.toml:6:10: {2}";
}

void tst_Scpi::refusedTables()
{
    QFETCH(QByteArray, table);
    QFETCH(QString, problem);
    QString error;
    QVERIFY(!loadProfileText("[framing]\nterminator = \"[LF]\"\n" + table, "t.toml", &error));
    QVERIFY2(error.startsWith(problem), qPrintable(error));
}

// Random program messages of commands with known outcomes against a model of the queue, the
// event status register and the range the test keeps; long, short and lower-case forms.
void tst_Scpi::randomMessagesKeepTheQueueInOrder()
{
    struct Unit
    {
        const char *text;
        int error; // queued: 0 none
    };
    static const Unit kUnits[] = { { "FOO", -113 }, { "CONF:VOLT:DC?", -113 }, { "VOLT:RANG 1e9", -222 },
        { "func \"x\"", -224 }, { "READ? 1", -108 }, { "SENS:VOLTAGE:DC:RANGE", -109 },
        { "VOLT:RANG 1 2", -102 }, { "*OPC", 0 }, { "CONF:VOLT:AC", 0 } };
    static const char *const kRanges[] = { "0.1", "1E+1", "MAX", "min", "DEF" };
    static const double kRangeValues[] = { 0.1, 10, 1000, 0.1, 10 };
    static const char *const kRangeHeaders[] = { "VOLT:RANG", "sense:voltage:dc:range:upper", "volt:dc:rang" };
    const std::unique_ptr<Responder> responder = meter();
    QVERIFY(responder);
    QRandomGenerator rng(20240309);
    QList<QByteArray> queue;
    int esr = 0;
    double range = 10;
    for (int message = 0; message < 3000; ++message) {
        QByteArrayList units;
        QByteArrayList answers;
        const auto queueError = [&](int code) {
            esr |= code <= -300 ? 8 : code <= -200 ? 16 : 32;
            if (queue.size() < 20)
                queue << QByteArray::number(code);
            else
                esr |= 8, queue.back() = "-350";
        };
        for (int i = rng.bounded(1, 7); i > 0; --i) {
            const int pick = rng.bounded(13);
            if (pick < int(std::size(kUnits))) {
                units << kUnits[pick].text;
                if (kUnits[pick].error)
                    queueError(kUnits[pick].error);
                if (kUnits[pick].error == 0 && units.last() == "*OPC")
                    esr |= 1;
            } else if (pick == 9) {
                units << "SYST:ERR?";
                answers << (queue.isEmpty() ? QByteArray("+0") : queue.takeFirst());
            } else if (pick == 10) {
                units << "*ESR?";
                answers << QByteArray::number(std::exchange(esr, 0));
            } else if (pick == 11) {
                units << (rng.bounded(8) ? "*STB?" : "*CLS");
                if (units.last() == "*CLS")
                    queue.clear(), esr = 0;
                else
                    answers << QByteArray::number(queue.isEmpty() ? 0 : 4);
            } else {
                const int which = rng.bounded(int(std::size(kRanges)));
                const bool query = rng.bounded(2);
                units << QByteArray(kRangeHeaders[rng.bounded(3)]) + (query ? "?" : QByteArray(" ") + kRanges[which]);
                if (query)
                    answers << QString::asprintf("%+.8E", range).toLatin1();
                else
                    range = kRangeValues[which];
            }
            if (!units.last().startsWith('*'))
                units.last().prepend(':');
        }
        const Reply reply = responder->reply(units.join(';') + "\r\n");
        // The error texts are checked by the exchanges above; here the numbers and the order.
        const QString got = QString::fromLatin1(reply.bytes).remove(QRegularExpression(",\"[^\"]*\""));
        QCOMPARE(got, QString::fromLatin1(answers.isEmpty() ? QByteArray() : answers.join(';') + "\n"));
    }
}

QTEST_GUILESS_MAIN(tst_Scpi)
#include "tst_scpi.moc"
