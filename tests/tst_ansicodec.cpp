#include "text/ansicodec.h"

#include <memory>
#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

struct Encoded
{
    bool ok = false;
    QByteArray out;
    QString unmappable;
};


} // namespace

class TestAnsiCodec : public QObject
{
    Q_OBJECT

private slots:
    // --- characters the code page holds ---
    void shouldEncodeToCodePage932Bytes_data();
    void shouldEncodeToCodePage932Bytes();
    void shouldPassEveryAsciiByteThroughUnchangedBothWays();
    void shouldMapHalfWidthKatakanaToSingleBytesBothWays();
    void shouldRoundTripText_data();
    void shouldRoundTripText();
    void shouldEncodeEveryCharacterTheDecoderProduces();

    // --- characters the code page lacks ---
    void shouldRefuseUnmappableTextAndLeaveOutputUntouched_data();
    void shouldRefuseUnmappableTextAndLeaveOutputUntouched();
    void shouldReplaceOnlyUnmappableCharactersWhenLossy_data();
    void shouldReplaceOnlyUnmappableCharactersWhenLossy();
    void shouldStillEncodeJapaneseAfterAnEarlierCallHitAnUnmappableCharacter();

    // --- bytes that are not code page 932 ---
    void shouldDecodeInvalidBytesAsReplacementAndKeepWhatFollows_data();
    void shouldDecodeInvalidBytesAsReplacementAndKeepWhatFollows();
};

void TestAnsiCodec::shouldEncodeToCodePage932Bytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("arrow") << QStringLiteral("→") << hex("81A8");
    QTest::newRow("sentence") << QStringLiteral("通信を開始しました。")
                              << hex("92CA904D82F08A4A8E6E82B582DC82B582BD8142");
    QTest::newRow("half-width katakana") << QStringLiteral("ﾀｲﾌﾟ") << hex("C0B2CCDF");
    QTest::newRow("trail byte 5C") << QStringLiteral("ソ表") << hex("835C955C");
    QTest::newRow("NEC row 13") << QStringLiteral("①㈱") << hex("8740878A");
    QTest::newRow("fullwidth tilde") << QStringLiteral("～") << hex("8160");
    QTest::newRow("wave dash alias") << QStringLiteral("〜") << hex("8160");
    QTest::newRow("minus sign alias") << QStringLiteral("−") << hex("817C");
    QTest::newRow("double vertical line alias") << QStringLiteral("‖") << hex("8161");
    QTest::newRow("cent pound not aliases") << QStringLiteral("¢£¬") << hex("8191819281CA");
    QTest::newRow("mixed") << QStringLiteral("A=1→ｱ\r\n") << hex("413D3181A8B10D0A");
    QTest::newRow("empty") << QString() << QByteArray();
}

void TestAnsiCodec::shouldEncodeToCodePage932Bytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QByteArray out = "sentinel";
    QString unmappable = QStringLiteral("sentinel");
    QVERIFY(Ansi::encode(text, &out, &unmappable));
    QCOMPARE(out.toHex(' '), bytes.toHex(' '));
    QVERIFY(unmappable.isEmpty());
    QCOMPARE(Ansi::encodeLossy(text).toHex(' '), bytes.toHex(' '));
}

void TestAnsiCodec::shouldPassEveryAsciiByteThroughUnchangedBothWays()
{
    QByteArray bytes;
    QString text;
    for (int b = 0; b < 0x80; ++b) {
        bytes.append(char(b));
        text.append(QChar(char16_t(b)));
    }
    QByteArray out;
    QVERIFY(Ansi::encode(text, &out));
    QCOMPARE(out, bytes);
    QCOMPARE(Ansi::decode(bytes), text);
    // The ones most likely to be mangled, one by one: 7F must not come back as 1A.
    for (char16_t u : { 0x00, 0x0D, 0x0A, 0x7F, 0x5C }) {
        const QByteArray one(1, char(u));
        QCOMPARE(Ansi::decode(one), QString(QChar(u)));
        QVERIFY(Ansi::encode(QString(QChar(u)), &out));
        QCOMPARE(out, one);
    }
}

void TestAnsiCodec::shouldMapHalfWidthKatakanaToSingleBytesBothWays()
{
    for (int b = 0xA1; b <= 0xDF; ++b) {
        const QString ch(QChar(char16_t(0xFF61 + b - 0xA1)));
        QByteArray out;
        QVERIFY2(Ansi::encode(ch, &out), qPrintable(ch));
        QCOMPARE(out, QByteArray(1, char(b)));
        QCOMPARE(Ansi::decode(out), ch);
    }
}

void TestAnsiCodec::shouldRoundTripText_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("Japanese and ASCII")
            << QStringLiteral("測定値: 49.12cm / 出力データ \"OK\", ﾀｲﾌﾟ=1\r\n終了。");
    QTest::newRow("5C trail bytes") << QStringLiteral("ソフト表示能力\\予定");
    QTest::newRow("controls around kanji") << QStringLiteral("\x06漢\x00字\x7F");
    QTest::newRow("IBM extension") << QStringLiteral("纊髙");
}

void TestAnsiCodec::shouldRoundTripText()
{
    QFETCH(QString, text);
    QByteArray bytes;
    QVERIFY(Ansi::encode(text, &bytes));
    QCOMPARE(Ansi::decode(bytes), text);
}

void TestAnsiCodec::shouldEncodeEveryCharacterTheDecoderProduces()
{
    // Every double-byte sequence that decodes to one character must encode again to bytes
    // that decode to that character; a text read from a file can always be written back.
    QStringList failures;
    {
        for (int lead = 0x81; lead <= 0xFC; ++lead) {
            if (lead > 0x9F && lead < 0xE0)
                continue;
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                if (trail == 0x7F)
                    continue;
                const QByteArray pair { char(lead), char(trail) };
                const QString ch = Ansi::decode(pair);
                if (ch.size() != 1 || ch.at(0) == QChar::ReplacementCharacter)
                    continue;
                QByteArray again;
                if (!Ansi::encode(ch, &again) || Ansi::decode(again) != ch)
                    failures.append(QString::fromLatin1(pair.toHex()));
            }
        }
    }
    QCOMPARE(failures, QStringList());
}

void TestAnsiCodec::shouldRefuseUnmappableTextAndLeaveOutputUntouched_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("unmappable");
    QTest::newRow("euro") << QStringLiteral("€") << QStringLiteral("€");
    QTest::newRow("euro twice") << QStringLiteral("a€b€c") << QStringLiteral("€");
    QTest::newRow("each once in order") << QStringLiteral("€a😀b€ä") << QStringLiteral("€😀ä");
    QTest::newRow("lone surrogate") << QString(QChar(char16_t(0xD800))) << QString(QChar(char16_t(0xD800)));
    QTest::newRow("Japanese around euro") << QStringLiteral("通信€エラー") << QStringLiteral("€");
}

void TestAnsiCodec::shouldRefuseUnmappableTextAndLeaveOutputUntouched()
{
    QFETCH(QString, text);
    QFETCH(QString, unmappable);
    Encoded result;
    result.out = "untouched";
    result.ok = Ansi::encode(text, &result.out, &result.unmappable);
    QVERIFY(!result.ok);
    QCOMPARE(result.out, QByteArray("untouched"));
    QCOMPARE(result.unmappable, unmappable);
}

void TestAnsiCodec::shouldReplaceOnlyUnmappableCharactersWhenLossy_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ASCII around euro") << QStringLiteral("a€b") << QByteArray("a?b");
    QTest::newRow("one ? per character") << QStringLiteral("😀x") << QByteArray("?x");
    QTest::newRow("kanji before euro") << QStringLiteral("通€") << hex("92CA3F");
    QTest::newRow("kanji after euro") << QStringLiteral("€信") << hex("3F904D");
}

void TestAnsiCodec::shouldReplaceOnlyUnmappableCharactersWhenLossy()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QByteArray lossy;
    lossy = Ansi::encodeLossy(text);
    QCOMPARE(lossy.toHex(' '), bytes.toHex(' '));
}

void TestAnsiCodec::shouldStillEncodeJapaneseAfterAnEarlierCallHitAnUnmappableCharacter()
{
    Encoded before, refused, after;
    {
        before.ok = Ansi::encode(QStringLiteral("通信"), &before.out);
        refused.ok = Ansi::encode(QStringLiteral("€"), &refused.out);
        after.ok = Ansi::encode(QStringLiteral("通信"), &after.out, &after.unmappable);
    }
    QVERIFY(before.ok);
    QVERIFY(!refused.ok);
    QVERIFY2(after.ok, qPrintable(QStringLiteral("refused: ") + after.unmappable));
    QCOMPARE(after.out, before.out);
}

void TestAnsiCodec::shouldDecodeInvalidBytesAsReplacementAndKeepWhatFollows_data()
{
    const QString bad(QChar::ReplacementCharacter);
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("lone 80") << hex("8041") << bad + u'A';
    QTest::newRow("lone A0") << hex("A041") << bad + u'A';
    QTest::newRow("FF") << hex("FF41") << bad + u'A';
    QTest::newRow("FD FE FF") << hex("FDFEFF") << bad + bad + bad;
    QTest::newRow("lead byte at end") << hex("4181") << u'A' + bad;
    QTest::newRow("lead then space") << hex("812041") << bad + QStringLiteral(" A");
    QTest::newRow("lead then 7F") << hex("817F") << bad + QChar(char16_t(0x7F));
    QTest::newRow("lead then CR LF") << hex("810D0A") << bad + QStringLiteral("\r\n");
    QTest::newRow("bad byte between kanji") << hex("92CA80904D") << QStringLiteral("通") + bad + QStringLiteral("信");
    QTest::newRow("bad pair then kanji") << hex("8120904D") << bad + QStringLiteral(" 信");
}

void TestAnsiCodec::shouldDecodeInvalidBytesAsReplacementAndKeepWhatFollows()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(Ansi::decode(bytes), text);
}

QTEST_GUILESS_MAIN(TestAnsiCodec)
#include "tst_ansicodec.moc"
