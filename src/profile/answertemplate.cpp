#include "profile/answertemplate.h"

#include "profile/script/luaextent.h"
#include "profile/script/luastate.h"
#include "text/notation.h"

#include <algorithm>

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
        segment.raw = colon < 0 ? rawByDefault(*kind) : form == QLatin1String("bin");
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
    } else if (name == QLatin1String("utc_time")) {
        segment.type = Segment::Type::UtcTime;
    } else if (name == QLatin1String("utc_date")) {
        segment.type = Segment::Type::UtcDate;
    } else if (name == QLatin1String("check_start")) {
        segment.type = Segment::Type::CheckStart;
    } else if (name == QLatin1String("check_end")) {
        segment.type = Segment::Type::CheckEnd;
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
    TemplateScope scope;
    scope.valueIndex = valueIndex;
    scope.captureCount = captureCount;
    return parse(text, scope, error);
}

std::optional<AnswerTemplate> AnswerTemplate::parse(
    const QString &text, const TemplateScope &scope, QString *error)
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
        if (pos + 1 < text.size() && text[pos + 1] == QLatin1Char('=')) {
            const qsizetype end = luaExpressionEnd(text, pos + 2);
            if (end < 0) {
                *error = QStringLiteral("'{=' without the '}' that closes its expression");
                return std::nullopt;
            }
            if (!scope.addExpression) {
                *error = QStringLiteral("{= } takes no expression here");
                return std::nullopt;
            }
            if (!flushPlain())
                return std::nullopt;
            Segment segment;
            segment.type = Segment::Type::Expression;
            segment.index = scope.addExpression(text.mid(pos + 2, end - pos - 2), pos, error);
            if (segment.index < 0)
                return std::nullopt;
            answer.m_segments.push_back(segment);
            pos = end + 1;
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
            QStringView(text).mid(pos + 1, close - pos - 1), scope.valueIndex, scope.captureCount,
            error);
        if (!segment)
            return std::nullopt;
        answer.m_segments.push_back(*segment);
        pos = close + 1;
    }
    if (!flushPlain())
        return std::nullopt;
    return answer;
}

bool AnswerTemplate::expand(const Expansion &with, QByteArray *out, QString *error) const
{
    static const ClockFormat time = ClockFormat::time();
    static const ClockFormat date = ClockFormat::date();
    qsizetype checkStart = out->size();
    qsizetype checkEnd = -1;
    for (const Segment &segment : m_segments) {
        switch (segment.type) {
        case Segment::Type::Literal:
            out->append(segment.literal);
            break;
        case Segment::Type::Value:
            with.values.append(segment.index, out);
            break;
        case Segment::Type::Capture:
            out->append(with.captures.value(segment.index));
            break;
        case Segment::Type::Time:
            time.append(with.values.now(), out);
            break;
        case Segment::Type::Date:
            date.append(with.values.now(), out);
            break;
        case Segment::Type::UtcTime:
            time.append(with.values.now(true), out);
            break;
        case Segment::Type::UtcDate:
            date.append(with.values.now(true), out);
            break;
        case Segment::Type::Checksum: {
            const qsizetype end = checkEnd >= checkStart ? checkEnd : out->size();
            // The view into out stays valid: the sum is taken before anything is appended.
            appendChecksum(segment.checksum, segment.raw,
                QByteArrayView(*out).sliced(checkStart, end - checkStart), out);
            break;
        }
        case Segment::Type::CheckStart:
            checkStart = out->size();
            checkEnd = -1;
            break;
        case Segment::Type::CheckEnd:
            checkEnd = out->size();
            break;
        case Segment::Type::Expression: {
            ScriptValue result;
            if (!with.script || !with.script->evaluate(segment.index, &result, error))
                return false;
            out->append(LuaState::textOf(result));
            break;
        }
        }
    }
    return true;
}

int AnswerTemplate::soleExpression() const
{
    return m_segments.size() == 1 && m_segments[0].type == Segment::Type::Expression
        ? m_segments[0].index
        : -1;
}

bool AnswerTemplate::usesScript() const
{
    return std::any_of(m_segments.begin(), m_segments.end(),
        [](const Segment &s) { return s.type == Segment::Type::Expression; });
}

} // namespace Profile
