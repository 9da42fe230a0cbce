#include "settings/settingstexts.h"
#include "text/tokencodec.h"

#include <QTest>

using namespace mdlSUCMD;

// The notation of control characters: tables of texts and the bytes they stand for.
class tst_TokenCodec : public QObject
{
    Q_OBJECT

private slots:
    void shouldConvertText_data();
    void shouldConvertText();
    void shouldKnowExactlyTheThirtyThreeNames();
    void shouldConvertAllElevenTexts();
};

void tst_TokenCodec::shouldConvertText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    const auto hex = [](const char *h) { return QByteArray::fromHex(h); };

    QTest::newRow("pattern 1 default") << "ABC+[CR]+[LF]" << hex("41 42 43 2B 0D 2B 0A");
    QTest::newRow("pattern 2 default") << "[ACK]+ODF+[NCK]" << hex("06 2B 4F 44 46 2B");
    QTest::newRow("continuous default") << "99.99" << hex("39 39 2E 39 39");
    QTest::newRow("SXT and EXT") << "[SXT]12.5[EXT]" << hex("02 31 32 2E 35 04");
    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("plain") << "ABC" << QByteArray("ABC");
    QTest::newRow("CR alone") << "[CR]" << hex("0D");
    QTest::newRow("SP") << "[SP]" << hex("20");
    QTest::newRow("NUL kept whole") << "A[NUL]B" << hex("41 00 42");
    QTest::newRow("NUL alone") << "[NUL]" << QByteArray(1, '\0');
    QTest::newRow("lower case") << "[cr]" << QByteArray();
    QTest::newRow("STX is no name") << "[STX]" << QByteArray();
    QTest::newRow("ETX is no name") << "[ETX]" << QByteArray();
    QTest::newRow("NCK is no name") << "[NCK]" << QByteArray();
    QTest::newRow("EOT is 03") << "[EOT]" << hex("03");
    QTest::newRow("DEL is no name") << "[DEL]" << QByteArray();
    QTest::newRow("blank inside") << "[ CR]" << QByteArray();
    QTest::newRow("empty brackets") << "[]" << QByteArray();
    QTest::newRow("closing bracket first") << "A]B[CR]" << hex("41 5D 42 0D");
    QTest::newRow("plus outside brackets") << "[ACK]+[NAK]" << hex("06 2B 15");
    QTest::newRow("closing bracket only") << "A]B" << QByteArray("A]B");
    QTest::newRow("every name") << "[NUL][SOH][SXT][EOT][EXT][ENQ][ACK][BEL][BS][HT][LF][VT][FF][CR]"
                                   "[SO][SI][DLE][DC1][DC2][DC3][DC4][NAK][SYN][ETB][CAN][EM][SUB]"
                                   "[ESC][FS][GS][RS][US][SP]"
                                << hex("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 "
                                       "15 16 17 18 19 1A 1B 1C 1D 1E 1F 20");
    // Every token converts: no limit of ten.
    QTest::newRow("eleven CR") << QString(QStringLiteral("[CR]")).repeated(11) << QByteArray(11, '\r');
    QString twelve;
    QByteArray twelveBytes;
    for (int i = 0; i < 12; ++i) {
        twelve += QStringLiteral("[CR]");
        twelveBytes += '\r';
        if (i < 11) {
            twelve += QLatin1Char('X');
            twelveBytes += 'X';
        }
    }
    QTest::newRow("twelve CR with X between") << twelve << twelveBytes;
    // Texts that do not end with a token keep their tail; a "[" without "]" stays as typed.
    QTest::newRow("text after last token") << "[SXT]ABC" << hex("02 41 42 43");
    QTest::newRow("trailing text after default") << "ABC+[CR]+[LF]XY" << hex("41 42 43 2B 0D 2B 0A 58 59");
    QTest::newRow("unclosed bracket") << "AB[CR" << QByteArray("AB[CR");
    QTest::newRow("unclosed after token") << "[CR]A[LF" << QByteArray("\rA[LF");
    QTest::newRow("bracket inside name") << "[[CR]" << QByteArray();
    QTest::newRow("Japanese in code page 932") << "ｱ[CR]" << hex("B1 0D");
    QTest::newRow("kanji") << "通信[ETB]" << hex("92 CA 90 4D 17");
}

void tst_TokenCodec::shouldConvertText()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(ConvertTokenText(text).toHex(' '), bytes.toHex(' '));
}

void tst_TokenCodec::shouldKnowExactlyTheThirtyThreeNames()
{
    QCOMPARE(ControlTokenTable.size(), size_t(33));
    for (size_t i = 0; i < ControlTokenTable.size(); ++i)
        QCOMPARE(int(ControlTokenTable[i].code), int(i));
}

void tst_TokenCodec::shouldConvertAllElevenTexts()
{
    SettingsTexts texts;
    texts.continuousOutput = QStringLiteral("99.99[CR]");
    texts.deviceCommands = { QStringLiteral("ABC+[CR]+[LF]"), QStringLiteral("[ACK]+ODF+[NCK]"),
                             QString(), QStringLiteral("D4"), QString() };
    texts.outputData = { QStringLiteral("4569.12"), QStringLiteral("49.12cm"), QStringLiteral("O3"),
                         QString(), QStringLiteral("O5") };
    const DeviceCommandTable table = ConvertSettingsTexts(texts);
    QCOMPARE(table.ContinuousOutputBytes, QByteArray("99.99\r"));
    QCOMPARE(table.DeviceCommandBytes[0], QByteArray("ABC+\r+\n"));
    QCOMPARE(table.DeviceCommandBytes[1], QByteArray("\x06+ODF+"));
    QCOMPARE(table.DeviceCommandBytes[2], QByteArray());
    QCOMPARE(table.DeviceCommandBytes[3], QByteArray("D4"));
    QCOMPARE(table.OutputDataBytes[2], QByteArray("O3"));
    QCOMPARE(table.OutputDataBytes[3], QByteArray());
    QCOMPARE(table.OutputDataBytes[4], QByteArray("O5"));
}

QTEST_GUILESS_MAIN(tst_TokenCodec)
#include "tst_tokencodec.moc"
