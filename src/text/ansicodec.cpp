#include "text/ansicodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace Ansi {

namespace {

constexpr const char *kCodePage = "windows-31j";

// Characters that Japanese input methods on other systems produce where a Windows PC has
// their code page 932 look-alikes (the well-known JIS X 0208 mapping differences); glibc's
// CP932 takes them the same way.
struct Alias
{
    char16_t ch;
    const char *bytes;
};
constexpr Alias kAliases[] = {
    { u'\u301C', "\x81\x60" }, // WAVE DASH -> FULLWIDTH TILDE
    { u'\u2016', "\x81\x61" }, // DOUBLE VERTICAL LINE -> PARALLEL TO
    { u'\u2212', "\x81\x7C" }, // MINUS SIGN -> FULLWIDTH HYPHEN-MINUS
    { u'\u00A2', "\x81\x91" }, // CENT SIGN
    { u'\u00A3', "\x81\x92" }, // POUND SIGN
    { u'\u00AC', "\x81\xCA" }, // NOT SIGN
    { u'\u00A5', "\x5C" },     // YEN SIGN: byte 5C is shown as the yen sign in Japan
    { u'\u203E', "\x7E" },     // OVERLINE
};

bool isLeadByte(uchar b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Each conversion gets a converter of its own: a converter's error flag survives
// resetState(), so a reused one would refuse everything after its first failure.
bool encodeCodePoint(QStringView cp, QByteArray *out)
{
    if (cp.size() == 1) {
        const char16_t u = cp.at(0).unicode();
        if (u < 0x80) {
            out->append(char(u));
            return true;
        }
        for (const Alias &alias : kAliases) {
            if (alias.ch == u) {
                out->append(alias.bytes);
                return true;
            }
        }
    }
    QStringEncoder encoder(kCodePage, QStringConverter::Flag::Stateless);
    const QByteArray bytes = encoder.encode(cp);
    if (encoder.hasError() || bytes.isEmpty())
        return false;
    out->append(bytes);
    return true;
}

template<typename OnUnmappable>
void encodeRunSlowly(QStringView run, QByteArray *out, OnUnmappable &onUnmappable)
{
    for (qsizetype i = 0; i < run.size();) {
        const qsizetype n =
                (run.at(i).isHighSurrogate() && i + 1 < run.size() && run.at(i + 1).isLowSurrogate())
                ? 2
                : 1;
        const QStringView cp = run.mid(i, n);
        if (!encodeCodePoint(cp, out))
            onUnmappable(cp, out);
        i += n;
    }
}

// ASCII is taken as it is (the converter would map 7F to 1A); runs of other characters
// convert whole when they can, and character by character when one of them cannot.
template<typename OnUnmappable>
QByteArray encodeWith(const QString &text, OnUnmappable onUnmappable)
{
    QByteArray result;
    result.reserve(text.size() * 2);
    qsizetype runStart = -1;
    const auto flushRun = [&](qsizetype end) {
        if (runStart < 0)
            return;
        const QStringView run = QStringView(text).mid(runStart, end - runStart);
        QStringEncoder whole(kCodePage, QStringConverter::Flag::Stateless);
        const QByteArray bytes = whole.encode(run);
        if (!whole.hasError())
            result.append(bytes);
        else
            encodeRunSlowly(run, &result, onUnmappable);
        runStart = -1;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        if (u >= 0x80) {
            if (runStart < 0)
                runStart = i;
            continue;
        }
        flushRun(i);
        result.append(char(u));
    }
    flushRun(text.size());
    return result;
}

void appendSingleByte(uchar b, QString *text)
{
    if (b < 0x80)
        text->append(QChar(b));
    else if (b >= 0xA1 && b <= 0xDF)
        text->append(QChar(char16_t(0xFF61 + (b - 0xA1)))); // half-width katakana
    else
        text->append(QChar::ReplacementCharacter);
}

// Byte by byte: a pair that does not convert gives U+FFFD for its lead byte alone, and
// decoding goes on at the next byte, so what follows a bad byte is kept.
void decodeSlowly(const QByteArray &bytes, QString *text)
{
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const uchar b = uchar(bytes.at(i));
        if (!isLeadByte(b) || i + 1 >= bytes.size()) {
            appendSingleByte(b, text);
            continue;
        }
        QStringDecoder decoder(kCodePage, QStringConverter::Flag::Stateless);
        const QString pair = decoder.decode(bytes.mid(i, 2));
        if (!decoder.hasError() && pair.size() == 1 && pair.at(0).unicode() >= 0x80) {
            text->append(pair);
            ++i;
        } else {
            text->append(QChar::ReplacementCharacter);
        }
    }
}

// A run of double-byte pairs converts whole when it is clean, else slowly.
void decodePairs(const QByteArray &pairs, QString *text)
{
    QStringDecoder whole(kCodePage, QStringConverter::Flag::Stateless);
    const QString decoded = whole.decode(pairs);
    bool clean = !whole.hasError() && decoded.size() == pairs.size() / 2;
    for (qsizetype i = 0; clean && i < decoded.size(); ++i)
        clean = decoded.at(i).unicode() >= 0x80;
    if (clean)
        text->append(decoded);
    else
        decodeSlowly(pairs, text);
}

} // namespace

bool encode(const QString &text, QByteArray *out, QString *unmappable)
{
    bool ok = true;
    QString bad;
    const QByteArray bytes = encodeWith(text, [&](QStringView cp, QByteArray *) {
        ok = false;
        if (!bad.contains(cp))
            bad.append(cp);
    });
    if (unmappable)
        *unmappable = bad;
    if (ok)
        *out = bytes;
    return ok;
}

QByteArray encodeLossy(const QString &text)
{
    return encodeWith(text, [](QStringView, QByteArray *result) { result->append('?'); });
}

QString decode(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size());
    // ASCII is decoded by hand: the converter maps 7F to 1A, and a byte must come back as the
    // same character for the log to show what was on the line.
    qsizetype runStart = -1;
    const auto flushRun = [&](qsizetype end) {
        if (runStart >= 0)
            decodePairs(bytes.mid(runStart, end - runStart), &text);
        runStart = -1;
    };
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const uchar b = uchar(bytes.at(i));
        if (isLeadByte(b) && i + 1 < bytes.size()) {
            if (runStart < 0)
                runStart = i;
            ++i;
            continue;
        }
        flushRun(i);
        appendSingleByte(b, &text);
    }
    flushRun(bytes.size());
    return text;
}

} // namespace Ansi
