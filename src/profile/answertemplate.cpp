#include "profile/answertemplate.h"

#include "text/notation.h"

namespace Profile {

namespace {
bool isCaptureNumber(QStringView name, int *number)
{
    if (name.isEmpty() || name.size() > 4)
        return false;
    for (const QChar c : name) {
        if (!c.isDigit() || c.unicode() > '9')
            return false;
    }
    *number = name.toInt();
    return true;
}

using Segment = AnswerTemplate::Segment;

std::optional<Segment> placeholder(QStringView inside,
    const std::function<int(QStringView)> &valueIndex, int captureCount, QString *error)
{
    const qsizetype colon = inside.indexOf(QLatin1Char(':'));
    const QStringView name = colon < 0 ? inside : inside.left(colon);
    const QStringView form = colon < 0 ? QStringView() : inside.mid(colon + 1);
    Segment segment;
    int number = 0;
    if (const std::optional<ChecksumKind> kind = checksumKind(name)) {
        if (colon >= 0 && form != QLatin1String("bin") && form != QLatin1String("hex")) {
            *error = QStringLiteral("{%1}: a checksum takes :bin or :hex").arg(inside);
            return std::nullopt;
        }
        segment.type = Segment::Type::Checksum;
        segment.checksum = *kind;
        segment.raw = colon < 0 ? *kind == ChecksumKind::Crc16Modbus : form == QLatin1String("bin");
        return segment;
    }
    if (colon >= 0) {
        *error = QStringLiteral("{%1}: only checksums take :bin or :hex").arg(inside);
        return std::nullopt;
    }
    if (isCaptureNumber(name, &number)) {
        if (captureCount < 0) {
            *error = QStringLiteral("{%1}: captures exist only in the answers of rules").arg(name);
            return std::nullopt;
        }
        if (number > captureCount) {
            *error = QStringLiteral("{%1}: the rule has %2 capture group(s)")
                         .arg(name)
                         .arg(captureCount);
            return std::nullopt;
        }
        segment.type = Segment::Type::Capture;
        segment.index = number;
    } else if (name == QLatin1String("time")) {
        segment.type = Segment::Type::Time;
    } else if (name == QLatin1String("date")) {
        segment.type = Segment::Type::Date;
    } else if (name == QLatin1String("check_start")) {
        segment.type = Segment::Type::CheckStart;
    } else if ((segment.index = valueIndex(name)) >= 0) {
        segment.type = Segment::Type::Value;
    } else {
        *error = QStringLiteral("unknown value or placeholder {%1}").arg(name);
        return std::nullopt;
    }
    return segment;
}
} // namespace

void AnswerTemplate::addLiteral(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (!m_segments.empty() && m_segments.back().type == Segment::Type::Literal) {
        m_segments.back().literal += bytes;
        return;
    }
    Segment segment;
    segment.literal = bytes;
    m_segments.push_back(std::move(segment));
}

AnswerTemplate AnswerTemplate::literal(const QByteArray &bytes)
{
    AnswerTemplate answer;
    answer.addLiteral(bytes);
    return answer;
}

std::optional<AnswerTemplate> AnswerTemplate::parse(const QString &text,
    const std::function<int(QStringView)> &valueIndex, int captureCount, QString *error)
{
    AnswerTemplate answer;
    QString plain;
    const auto flushPlain = [&] {
        QByteArray bytes;
        if (!appendNotation(plain, &bytes, error))
            return false;
        answer.addLiteral(bytes);
        plain.clear();
        return true;
    };
    qsizetype pos = 0;
    while (pos < text.size()) {
        const QChar c = text[pos];
        if (c != QLatin1Char('{')) {
            plain += c;
            ++pos;
            continue;
        }
        if (pos + 1 < text.size() && text[pos + 1] == QLatin1Char('{')) {
            plain += c;
            pos += 2;
            continue;
        }
        const qsizetype close = text.indexOf(QLatin1Char('}'), pos);
        if (close < 0) {
            *error = QStringLiteral("'{' without '}' (write {{ for the character)");
            return std::nullopt;
        }
        if (!flushPlain())
            return std::nullopt;
        const std::optional<Segment> segment = placeholder(
            QStringView(text).mid(pos + 1, close - pos - 1), valueIndex, captureCount, error);
        if (!segment)
            return std::nullopt;
        answer.m_segments.push_back(*segment);
        pos = close + 1;
    }
    if (!flushPlain())
        return std::nullopt;
    return answer;
}

void AnswerTemplate::expand(
    ValueBank &values, const QList<QByteArray> &captures, QByteArray *out) const
{
    static const ClockFormat time = ClockFormat::time();
    static const ClockFormat date = ClockFormat::date();
    qsizetype checkStart = out->size();
    for (const Segment &segment : m_segments) {
        switch (segment.type) {
        case Segment::Type::Literal:
            out->append(segment.literal);
            break;
        case Segment::Type::Value:
            values.append(segment.index, out);
            break;
        case Segment::Type::Capture:
            out->append(captures.value(segment.index));
            break;
        case Segment::Type::Time:
            time.append(values.now(), out);
            break;
        case Segment::Type::Date:
            date.append(values.now(), out);
            break;
        case Segment::Type::Checksum:
            // The view into out stays valid: the sum is taken before anything is appended.
            appendChecksum(
                segment.checksum, segment.raw, QByteArrayView(*out).sliced(checkStart), out);
            break;
        case Segment::Type::CheckStart:
            checkStart = out->size();
            break;
        }
    }
}

} // namespace Profile
