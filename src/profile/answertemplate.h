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
// captures of a rule's regex, {0} the whole command), {time}, {date}, the checksums {sum8}
// {xor} {lrc} {crc16_modbus} with an optional :bin or :hex, and {check_start}, after which
// checksums cover only the bytes that follow it. "{{" is a literal "{"; a "}" stands for
// itself.
class AnswerTemplate
{
public:
    struct Segment
    {
        enum class Type { Literal, Value, Capture, Time, Date, Checksum, CheckStart };
        Type type = Type::Literal;
        QByteArray literal;
        // The value index or the capture number.
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
    // Bytes sent as they are, as the dialog's output data are.
    static AnswerTemplate literal(const QByteArray &bytes);

    // Appends the expansion to out. Checksums cover what this expansion wrote before them.
    // Values are read from values within the answer it has begun.
    void expand(ValueBank &values, const QList<QByteArray> &captures, QByteArray *out) const;

private:
    void addLiteral(const QByteArray &bytes);

    std::vector<Segment> m_segments;
};

} // namespace Profile
