#include "ptypair.h"
#include "serial/serialcomm.h"
#include "settings/loadsettings.h"
#include "settingsfolder.h"
#include "startup/statustexts.h"

#include <QTest>

#include <termios.h>

// Loading the settings files into the records and the port, step by step.
class tst_LoadSettings : public QObject
{
    Q_OBJECT

private slots:
    void shouldLoadDefaultsAndOpenPortWithTheirParameters();
    void shouldGoOnPastMissingFiles();
    void shouldKeepLastRecordOfProtocolButFirstOfCommands();
    void shouldFillOnlyFieldsPresentInShortRecord();
    void shouldReadCommandFileAsProtocolFileIsRead_data();
    void shouldReadCommandFileAsProtocolFileIsRead();
    void shouldSurviveGarbage_data();
    void shouldSurviveGarbage();
    void shouldReportPortThatDoesNotExist();
    void shouldKeepOpenPortWhenReloadedWithSameSettings();
    void shouldCreateStartupFileOnlyWhenMissing();
    void shouldMakeStatusTexts_data();
    void shouldMakeStatusTexts();
};

void tst_LoadSettings::shouldLoadDefaultsAndOpenPortWithTheirParameters()
{
    PtyPair pty;
    SettingsFolder folder;
    folder.writeDefaults(pty.slavePath());
    SettingsRecords records;
    SerialComm comm;

    const LoadSettingsReport report = LoadSettings(records, comm, folder.path());

    QVERIFY2(report.portError.isEmpty(), qPrintable(report.portError));
    QVERIFY(comm.portOpen());
    QCOMPARE(comm.rThreshold(), 0);
    QCOMPARE(records.CommSettingsString, QStringLiteral("9600,N,8,1"));
    QCOMPARE(records.comm.PortNumber, QStringLiteral("1"));
    QCOMPARE(records.protocol.OutputType, QStringLiteral("0"));
    QCOMPARE(records.protocol.IntervalSeconds, QStringLiteral("1"));
    QCOMPARE(records.protocol.ContinuousOutputText, QStringLiteral("99.99"));
    QCOMPARE(records.protocol.OutputDataText[1], QStringLiteral("49.12cm"));
    QCOMPARE(records.protocol.DeviceCommandText[0], QStringLiteral("ABC+[CR]+[LF]"));
    QCOMPARE(records.protocol.DeviceCommandText[1], QStringLiteral("[ACK]+ODF+[NCK]"));
    QCOMPARE(records.commands.DeviceCommandBytes[0], QByteArray("ABC+\r+\n"));
    QCOMPARE(records.commands.DeviceCommandBytes[1], QByteArray("\x06+ODF+"));
    QCOMPARE(records.commands.OutputDataBytes[0], QByteArray("4569.12"));
    QCOMPARE(records.commands.DeviceCommandBytes[2], QByteArray());

    termios tio {};
    QCOMPARE(tcgetattr(pty.masterFd(), &tio), 0);
    QCOMPARE(cfgetospeed(&tio), speed_t(B9600));

    // Bytes that waited before loading are gone.
    QVERIFY(pty.write("stale"));
    QTRY_COMPARE(comm.inBufferCount(), 5);
    LoadSettings(records, comm, folder.path());
    QCOMPARE(comm.inBufferCount(), 0);
}

void tst_LoadSettings::shouldGoOnPastMissingFiles()
{
    SettingsFolder folder;
    folder.write(QStringLiteral("SOUCHICMD.txt"), SettingsFolder::defaultCommands());
    folder.linkMissingCom1();
    SettingsRecords records;
    SerialComm comm;

    const LoadSettingsReport report = LoadSettings(records, comm, folder.path());

    QVERIFY(!report.commFileRead);
    QVERIFY(!report.protocolFileRead);
    QVERIFY(report.commandFileRead);
    QVERIFY(records.CommSettingsString.isEmpty());
    QVERIFY(records.protocol.OutputType.isEmpty());
    // The open was still tried, with the component's own port and settings.
    QVERIFY2(report.portError.startsWith(folder.file(QStringLiteral("COM1")) + QStringLiteral(" (")),
             qPrintable(report.portError));
    QCOMPARE(comm.settings(), QStringLiteral("9600,N,8,1"));
    QCOMPARE(records.commands.OutputDataBytes[1], QByteArray("49.12cm"));
}

void tst_LoadSettings::shouldKeepLastRecordOfProtocolButFirstOfCommands()
{
    SettingsFolder folder;
    folder.write(QStringLiteral("ACSet.txt"),
                 SettingsFolder::defaultComm() + "\"2\",\"19200\",\"N\",\"8\",\"1.5\"\r\n");
    folder.write(QStringLiteral("PROTcol.txt"),
                 SettingsFolder::defaultProtocol() + SettingsFolder::defaultProtocol("1", "2.5"));
    folder.write(QStringLiteral("SOUCHICMD.txt"),
                 SettingsFolder::defaultCommands()
                         + "\"X\",\"Y\",\"\",\"\",\"\",\"\",\"Z\",\"\",\"\",\"\",\"\"\r\n");
    SettingsRecords records;
    SerialComm comm;
    LoadSettings(records, comm, folder.path());

    QCOMPARE(records.CommSettingsString, QStringLiteral("19200,N,8,1.5"));
    QCOMPARE(comm.commPort(), 2);
    QCOMPARE(comm.settings(), QStringLiteral("19200,N,8,1.5"));
    QCOMPARE(records.protocol.OutputType, QStringLiteral("1"));
    QCOMPARE(records.protocol.IntervalSeconds, QStringLiteral("2.5"));
    QCOMPARE(records.commands.ContinuousOutputBytes, QByteArray("99.99"));
    QCOMPARE(records.commands.DeviceCommandBytes[0], QByteArray("ABC+\r+\n"));
}

void tst_LoadSettings::shouldFillOnlyFieldsPresentInShortRecord()
{
    SettingsFolder folder;
    folder.write(QStringLiteral("PROTcol.txt"), "\"1\",\"5\"\r\n");
    folder.write(QStringLiteral("ACSet.txt"), "\"3\",\"4800\"\r\n");
    SettingsRecords records;
    records.protocol.ContinuousOutputText = QStringLiteral("kept");
    records.comm.Parity = QStringLiteral("N");
    records.comm.DataBits = QStringLiteral("8");
    records.comm.StopBits = QStringLiteral("1");
    SerialComm comm;
    LoadSettings(records, comm, folder.path());

    QCOMPARE(records.protocol.OutputType, QStringLiteral("1"));
    QCOMPARE(records.protocol.IntervalSeconds, QStringLiteral("5"));
    QCOMPARE(records.protocol.ContinuousOutputText, QStringLiteral("kept"));
    QCOMPARE(records.CommSettingsString, QStringLiteral("4800,N,8,1"));
    QCOMPARE(comm.commPort(), 3);
}

// SOUCHICMD.txt holds what PROTcol.txt's texts convert to. Both read alike; what it lacks
// comes from that conversion; where it disagrees its bytes go out and the fields are named.
void tst_LoadSettings::shouldReadCommandFileAsProtocolFileIsRead_data()
{
    QTest::addColumn<QByteArray>("protocol");
    QTest::addColumn<QByteArray>("commands"); // empty: no file
    QTest::addColumn<QByteArray>("continuousBytes");
    QTest::addColumn<QByteArray>("command1Bytes");
    QTest::addColumn<QStringList>("differing");
    const QByteArray katakana("\xC3\xBD\xC4"); // ﾃｽﾄ in code page 932
    const QByteArray protocol = "\"0\",\"1\",\"" + katakana + "\",\"\",\"\",\"\",\"\",\"\",\"Q[CR]\"\r\n";
    QTest::newRow("UTF-8 with byte-order mark")
            << protocol << QByteArray("\xEF\xBB\xBF\"\xEF\xBE\x83\xEF\xBD\xBD\xEF\xBE\x84\",\"Q\r\"\r\n")
            << katakana << QByteArray("Q\r") << QStringList();
    QTest::newRow("missing") << protocol << QByteArray() << katakana << QByteArray("Q\r") << QStringList();
    QTest::newRow("short") << protocol << QByteArray("\"" + katakana + "\"\r\n") << katakana
                           << QByteArray("Q\r") << QStringList();
    QTest::newRow("disagreeing") << protocol << QByteArray("\"88.88\",\"Q\r\",\"\",\"\",\"\",\"\",\"4\"\r\n")
                                 << QByteArray("88.88") << QByteArray("Q\r")
                                 << QStringList { QStringLiteral("連続出力データ"), QStringLiteral("出力データ1") };
}

void tst_LoadSettings::shouldReadCommandFileAsProtocolFileIsRead()
{
    QFETCH(QByteArray, protocol);
    QFETCH(QByteArray, commands);
    QFETCH(QByteArray, continuousBytes);
    QFETCH(QByteArray, command1Bytes);
    QFETCH(QStringList, differing);
    SettingsFolder folder;
    folder.linkMissingCom1();
    folder.write(QStringLiteral("PROTcol.txt"), protocol);
    if (!commands.isEmpty())
        folder.write(QStringLiteral("SOUCHICMD.txt"), commands);
    SettingsRecords records;
    SerialComm comm;
    const LoadSettingsReport report = LoadSettings(records, comm, folder.path());
    QCOMPARE(records.commands.ContinuousOutputBytes, continuousBytes);
    QCOMPARE(records.commands.DeviceCommandBytes[0], command1Bytes);
    QCOMPARE(report.commandFieldsDiffering, differing);
}

void tst_LoadSettings::shouldSurviveGarbage_data()
{
    QTest::addColumn<QByteArray>("comm");
    QTest::addColumn<QByteArray>("protocol");

    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary.append(char((i * 131 + 7) & 0xFF));
    QTest::newRow("binary") << binary << binary;
    QTest::newRow("empty files") << QByteArray() << QByteArray();
    QTest::newRow("missing closing quote") << QByteArray("\"1\",\"9600") << QByteArray("\"0\",\"1");
    QTest::newRow("words for numbers") << QByteArray("\"one\",\"fast\",\"N\",\"8\",\"1\"\r\n")
                                       << QByteArray("\"zero\",\"soon\"\r\n");
    QTest::newRow("huge") << QByteArray(3 << 20, ',') << QByteArray(3 << 20, '"');
}

void tst_LoadSettings::shouldSurviveGarbage()
{
    QFETCH(QByteArray, comm);
    QFETCH(QByteArray, protocol);
    SettingsFolder folder;
    folder.write(QStringLiteral("ACSet.txt"), comm);
    folder.write(QStringLiteral("PROTcol.txt"), protocol);
    folder.write(QStringLiteral("SOUCHICMD.txt"), protocol);
    folder.linkMissingCom1();
    SettingsRecords records;
    SerialComm port;
    // Nothing to assert but that loading ends and leaves the port closed on a bad device.
    const LoadSettingsReport report = LoadSettings(records, port, folder.path());
    QVERIFY(report.commFileRead);
    QVERIFY(!port.portOpen());
    QVERIFY(!StatusTexts::make(records.protocol.OutputType, records.CommSettingsString)
                     .has_value()
            || settingsNumber(records.protocol.OutputType).has_value());
}

void tst_LoadSettings::shouldReportPortThatDoesNotExist()
{
    SettingsFolder folder;
    folder.write(QStringLiteral("ACSet.txt"), "\"9\",\"9600\",\"N\",\"8\",\"1\"\r\n");
    folder.write(QStringLiteral("PROTcol.txt"), SettingsFolder::defaultProtocol());
    SettingsRecords records;
    SerialComm comm;
    const LoadSettingsReport report = LoadSettings(records, comm, folder.path());

    QVERIFY(!comm.portOpen());
    QVERIFY2(report.portError.startsWith(QStringLiteral("/dev/ttyS8 (")), qPrintable(report.portError));
    // Loading went on past the port.
    QCOMPARE(records.protocol.ContinuousOutputText, QStringLiteral("99.99"));
    QCOMPARE(records.CommSettingsString, QStringLiteral("9600,N,8,1"));
}

void tst_LoadSettings::shouldKeepOpenPortWhenReloadedWithSameSettings()
{
    PtyPair pty;
    SettingsFolder folder;
    folder.writeDefaults(pty.slavePath());
    SettingsRecords records;
    SerialComm comm;
    LoadSettings(records, comm, folder.path());
    QVERIFY(comm.portOpen());

    folder.write(QStringLiteral("ACSet.txt"), "\"1\",\"4800\",\"N\",\"8\",\"1\"\r\n");
    const LoadSettingsReport report = LoadSettings(records, comm, folder.path());
    QVERIFY(report.portError.isEmpty());
    QVERIFY(comm.portOpen());
    QCOMPARE(comm.settings(), QStringLiteral("4800,N,8,1"));
    termios tio {};
    QCOMPARE(tcgetattr(pty.masterFd(), &tio), 0);
    QCOMPARE(cfgetospeed(&tio), speed_t(B4800));
}

void tst_LoadSettings::shouldCreateStartupFileOnlyWhenMissing()
{
    SettingsFolder folder;
    SettingsRecords records;
    QVERIFY(LoadShowAtStartup(records, folder.path()));
    QCOMPARE(folder.read(QStringLiteral("ACSet2.txt")), QByteArray("\"1\"\r\n"));
    QCOMPARE(records.ShowAtStartup, QStringLiteral("1"));

    folder.write(QStringLiteral("ACSet2.txt"), "\"0\"\r\n");
    QVERIFY(LoadShowAtStartup(records, folder.path()));
    QCOMPARE(records.ShowAtStartup, QStringLiteral("0"));
    QCOMPARE(folder.read(QStringLiteral("ACSet2.txt")), QByteArray("\"0\"\r\n"));
}

void tst_LoadSettings::shouldMakeStatusTexts_data()
{
    QTest::addColumn<QString>("outputType");
    QTest::addColumn<bool>("made");
    QTest::addColumn<QString>("panel1");
    QTest::newRow("continuous") << "0" << true << QStringLiteral("出力ﾀｲﾌﾟ : 連続出力");
    QTest::newRow("on receive") << "1" << true << QStringLiteral("出力ﾀｲﾌﾟ : 受信ごとに出力");
    QTest::newRow("minus one") << "-1" << true << QStringLiteral("出力ﾀｲﾌﾟ : 受信ごとに出力");
    QTest::newRow("zero point zero") << "0.0" << true << QStringLiteral("出力ﾀｲﾌﾟ : 連続出力");
    QTest::newRow("not a number") << "x" << false << QString();
    QTest::newRow("empty") << "" << false << QString();
}

void tst_LoadSettings::shouldMakeStatusTexts()
{
    QFETCH(QString, outputType);
    QFETCH(bool, made);
    QFETCH(QString, panel1);
    const auto texts = StatusTexts::make(outputType, QStringLiteral("9600,N,8,1"));
    QCOMPARE(texts.has_value(), made);
    if (!made)
        return;
    QCOMPARE(texts->outputType, panel1);
    QCOMPARE(texts->commSettings, QStringLiteral("通信設定 : 9600,N,8,1"));
}

QTEST_GUILESS_MAIN(tst_LoadSettings)
#include "tst_loadsettings.moc"
