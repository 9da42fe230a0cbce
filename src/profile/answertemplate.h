#pragma once

#include "profile/checksums.h"
#include "profile/values.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace Profile {

// A text with placeholders, parsed once when the profile loads and expanded for every answer.
// Literal parts are in the strict notation; placeholders are {VALUE}, {1} {2} ... (the
// captures of a rule's regex, {0} the whole command), {time}, {date}, {utc_time}, {utc_date},
// the checksums ({sum8} {xor} {crc16_modbus} ...) with an optional :bin or :hex,
// {check_start} and {check_end}, between which later checksums cover the bytes, and
// {= EXPRESSION } in Lua. "{{" is a literal "{"; a "}" stands for itself.
class LuaState;

// What a template may name while it is parsed.
struct TemplateScope
{
    // The index of a value name, or -1.
    std::function<int(QStringView)> valueIndex;
    // The number of groups of the rule's regex (0 for an exact command); -1 where there is no
    // command at all, as for the continuous text.
    int captureCount = 0;
    // Takes a Lua expression ({= code }) found at the character offset at of the text: its
    // number, or -1 with the reason. None: the template takes no expressions.
    std::function<int(const QString &code, qsizetype at, QString *error)> addExpression;
};

// What an expansion reads: the values within the answer begun, the command's captures, and
// the run's Lua state for expressions (null when the profile has none).
struct Expansion
{
    ValueBank &values;
    const QList<QByteArray> &captures;
    LuaState *script = nullptr;
};

class AnswerTemplate
{
public:
    struct Segment
    {
        enum class Type {
            Literal, Value, Capture, Time, Date, UtcTime, UtcDate, Checksum, CheckStart,
            CheckEnd, Expression
        };
        Type type = Type::Literal;
        QByteArray literal;
        // The value index, the capture number or the expression's number.
        int index = 0;
        ChecksumKind checksum = ChecksumKind::Sum8;
        bool raw = false;
    };

    // valueIndex gives the index of a value name, or -1. captureCount is the number of
    // groups of the rule's regex (0 for an exact command); -1 where there is no command at
    // all, as for the continuous text. False, with the reason, for bad notation and unknown
    // placeholders.
    static std::optional<AnswerTemplate> parse(const QString &text,
        const std::function<int(QStringView)> &valueIndex, int captureCount, QString *error);
    static std::optional<AnswerTemplate> parse(
        const QString &text, const TemplateScope &scope, QString *error);
    // Bytes sent as they are, as the dialog's output data are.
    static AnswerTemplate literal(const QByteArray &bytes);

    // Appends the expansion to out. Checksums cover what this expansion wrote before them
    // (from {check_start}, up to {check_end}). False, with the reason, when an expression
    // failed; out then holds what came before it.
    bool expand(const Expansion &with, QByteArray *out, QString *error) const;
    // The template is one expression and nothing else: its number, else -1. A set of such a
    // template stores what the expression gives, a number as a number.
    int soleExpression() const;
    bool usesScript() const;

private:
    void addLiteral(const QByteArray &bytes);

    std::vector<Segment> m_segments;
};

} // namespace Profile
