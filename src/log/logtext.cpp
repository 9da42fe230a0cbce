#include "log/logtext.h"

#include "text/ansicodec.h"
#include "text/tokencodec.h"

#include <array>
#include <mutex>
#include <vector>

namespace LogText {

namespace {

bool isLeadByte(uchar b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

int leadIndex(uchar b)
{
    return b <= 0x9F ? b - 0x81 : b - 0xE0 + (0x9F - 0x81 + 1);
}

constexpr int kLeadBytes = (0x9F - 0x81 + 1) + (0xFC - 0xE0 + 1);

struct PairEntry
{
    char16_t ch = 0; // 0: the two bytes are no character
    bool exact = false; // the character encodes back to the same two bytes
};

// The characters of one lead byte, worked out through the program's own codec the first time
// that lead byte is met (a row costs about 0.3 ms, the whole table 17), so the log shows what
// the settings files would read and a pair costs a lookup.
const PairEntry &pairEntry(uchar lead, uchar trail)
{
    static std::array<std::vector<PairEntry>, kLeadBytes> rows;
    static std::array<std::once_flag, kLeadBytes> made;
    const int index = leadIndex(lead);
    std::call_once(made[size_t(index)], [&row = rows[size_t(index)], lead] {
        row.resize(256);
        for (int t = 0x40; t <= 0xFC; ++t) {
            const char bytes[] = { char(lead), char(t) };
            const QByteArray pair(bytes, 2);
            const QString text = Ansi::decode(pair);
            if (text.size() != 1 || text.at(0) == QChar::ReplacementCharacter)
                continue;
            row[size_t(t)].ch = text.at(0).unicode();
            QByteArray back;
            row[size_t(t)].exact = Ansi::encode(text, &back) && back == pair;
        }
    });
    return rows[size_t(index)][trail];
}

const PairEntry *pairAt(QByteArrayView bytes, qsizetype i)
{
    if (!isLeadByte(uchar(bytes[i])) || i + 1 >= bytes.size())
        return nullptr;
    const PairEntry &entry = pairEntry(uchar(bytes[i]), uchar(bytes[i + 1]));
    return entry.ch ? &entry : nullptr;
}

bool isKatakana(uchar b)
{
    return b >= 0xA1 && b <= 0xDF;
}

void appendControlName(uchar b, QString *out)
{
    out->append(QLatin1Char('['));
    out->append(QLatin1String(mdlSUCMD::ControlTokenTable[b].name));
    out->append(QLatin1Char(']'));
}

void appendHex(uchar b, QByteArray *out)
{
    static const char digits[] = "0123456789ABCDEF";
    const char text[] = { '[', 'x', digits[b >> 4], digits[b & 15], ']' };
    out->append(text, sizeof text);
}

// Bytes that stand for themselves in a saved record.
bool isPlainAscii(uchar b)
{
    return b >= 0x20 && b < 0x7F && b != '"' && b != '[';
}

} // namespace

void appendShown(QByteArrayView bytes, QString *out)
{
    out->reserve(out->size() + bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = uchar(bytes[i]);
        if (b < 0x20) {
            appendControlName(b, out);
        } else if (b == 0x7F) {
            out->append(QLatin1String("[DEL]"));
        } else if (b < 0x80) {
            out->append(QChar(b));
        } else if (isKatakana(b)) {
            out->append(QChar(char16_t(0xFF61 + (b - 0xA1))));
        } else if (const PairEntry *pair = pairAt(bytes, i)) {
            out->append(QChar(pair->ch));
            ++i;
        } else {
            QByteArray hex;
            appendHex(b, &hex);
            out->append(QLatin1String(hex));
        }
    }
}

QString shown(QByteArrayView bytes)
{
    QString text;
    appendShown(bytes, &text);
    return text;
}

void appendSaved(QByteArrayView bytes, QByteArray *out)
{
    qsizetype plainFrom = 0; // bytes copied as a run, not one by one
    const auto flush = [&](qsizetype end) {
        out->append(bytes.sliced(plainFrom, end - plainFrom));
    };
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = uchar(bytes[i]);
        if (isPlainAscii(b) || isKatakana(b))
            continue;
        const PairEntry *pair = b >= 0x80 ? pairAt(bytes, i) : nullptr;
        if (pair && pair->exact) {
            ++i;
            continue;
        }
        flush(i);
        plainFrom = i + 1;
        if (b < 0x20) {
            out->append('[').append(mdlSUCMD::ControlTokenTable[b].name).append(']');
        } else {
            appendHex(b, out);
            if (pair) {
                appendHex(uchar(bytes[i + 1]), out);
                ++i;
                plainFrom = i + 1;
            }
        }
    }
    flush(bytes.size());
}

} // namespace LogText
