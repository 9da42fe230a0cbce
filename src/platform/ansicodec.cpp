#include "ansicodec.h"

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

// Encodes one code point (one or two UTF-16 units); false when the code page lacks it.
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
    static thread_local QStringEncoder encoder(kCodePage, QStringConverter::Flag::Stateless);
    encoder.resetState();
    const QByteArray bytes = encoder.encode(cp);
    if (encoder.hasError() || bytes.isEmpty())
        return false;
    out->append(bytes);
    return true;
}

template<typename OnUnmappable>
QByteArray encodeWith(const QString &text, OnUnmappable onUnmappable)
{
    QByteArray result;
    result.reserve(text.size() * 2);
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype n =
                (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
                ? 2
                : 1;
        const QStringView cp = QStringView(text).mid(i, n);
        if (!encodeCodePoint(cp, &result))
            onUnmappable(cp, &result);
        i += n;
    }
    return result;
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
    QStringDecoder decoder(kCodePage, QStringConverter::Flag::Stateless);
    // ASCII is decoded by hand: the converter maps 7F to 1A, and a byte must come back as the
    // same character for the log to show what was on the line.
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const uchar b = uchar(bytes.at(i));
        if (b < 0x80) {
            text.append(QChar(b));
        } else if (b >= 0xA1 && b <= 0xDF) {
            text.append(QChar(char16_t(0xFF61 + (b - 0xA1)))); // half-width katakana
        } else if (isLeadByte(b) && i + 1 < bytes.size()) {
            decoder.resetState();
            const QString pair = decoder.decode(bytes.mid(i, 2));
            if (decoder.hasError() || pair.size() != 1 || pair.at(0).unicode() < 0x80) {
                text.append(QChar::ReplacementCharacter);
            } else {
                text.append(pair);
                ++i;
            }
        } else {
            text.append(QChar::ReplacementCharacter);
        }
    }
    return text;
}

} // namespace Ansi
