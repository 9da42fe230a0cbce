#pragma once

#include "cp932.h"
#include "notation.h"
#include "records.h"

#include <QRegularExpression>
#include <QString>

#include <array>

// Settings as the user typed them, and what the tests expect of them in the files, on the
// wire and in the log, derived with the tests' own codec and record writer.
namespace Oracle {

constexpr int kPatterns = 5;

struct TypedSettings
{
    bool continuous = true;
    QString interval;
    QString continuousText;
    std::array<QString, kPatterns> outputs;
    std::array<QString, kPatterns> commands;

    bool operator==(const TypedSettings &o) const
    {
        return continuous == o.continuous && interval == o.interval
            && continuousText == o.continuousText && outputs == o.outputs && commands == o.commands;
    }
    // 既定に設定: the instrument's factory settings.
    static TypedSettings defaults()
    {
        return { true, QStringLiteral("1"), QStringLiteral("99.99"),
            { QStringLiteral("4569.12"), QStringLiteral("49.12cm"), {}, {}, {} },
            { QStringLiteral("ABC+[CR]+[LF]"), QStringLiteral("[ACK]+ODF+[NCK]"), {}, {}, {} } };
    }
    // A whole number of seconds or a decimal fraction; an empty box stands for one second.
    bool intervalIsSeconds() const
    {
        static const QRegularExpression seconds(QStringLiteral("^([0-9]+(\\.[0-9]+)?)?$"));
        return seconds.match(interval).hasMatch();
    }
    // OK stores an empty box as one second.
    QString storedInterval() const { return interval.isEmpty() ? QStringLiteral("1") : interval; }
    bool intervalIsNumber() const
    {
        static const QRegularExpression number(QStringLiteral("^-?[0-9]+(\\.[0-9]+)?$"));
        return number.match(storedInterval()).hasMatch();
    }
    // What OK accepts: an interval in seconds and texts the code page holds, without the
    // quote the files cannot carry.
    bool acceptedAtOk() const
    {
        QStringList texts { interval, continuousText };
        for (int p = 0; p < kPatterns; ++p)
            texts << outputs[size_t(p)] << commands[size_t(p)];
        for (const QString &text : texts) {
            if (text.contains(QLatin1Char('"')) || !toCp932(text))
                return false;
        }
        return intervalIsSeconds();
    }
    // PROTcol.txt: output type, interval, continuous text, output data 1-5, commands 1-5.
    Record protocolRecord() const
    {
        Record r { continuous ? "0" : "1", cp932(storedInterval()), cp932(continuousText) };
        for (const QString &text : outputs)
            r.append(cp932(text));
        for (const QString &text : commands)
            r.append(cp932(text));
        return r;
    }
};

// The bytes in force: the conversion of the texts, unless SOUCHICMD.txt says otherwise.
struct SentBytes
{
    QByteArray continuousText;
    std::array<QByteArray, kPatterns> commands;
    std::array<QByteArray, kPatterns> outputs;

    static SentBytes of(const TypedSettings &typed)
    {
        SentBytes b;
        b.continuousText = lineBytes(typed.continuousText);
        for (int p = 0; p < kPatterns; ++p) {
            b.commands[size_t(p)] = lineBytes(typed.commands[size_t(p)]);
            b.outputs[size_t(p)] = lineBytes(typed.outputs[size_t(p)]);
        }
        return b;
    }
    // SOUCHICMD.txt: continuous text, commands 1-5, output data 1-5.
    Record commandRecord() const
    {
        Record r { continuousText };
        for (const QByteArray &bytes : commands)
            r.append(bytes);
        for (const QByteArray &bytes : outputs)
            r.append(bytes);
        return r;
    }
    static SentBytes fromRecord(const Record &r)
    {
        SentBytes b;
        b.continuousText = r.value(0);
        for (int p = 0; p < kPatterns; ++p) {
            b.commands[size_t(p)] = r.value(1 + p);
            b.outputs[size_t(p)] = r.value(1 + kPatterns + p);
        }
        return b;
    }
    // The pattern that answers a command: the first with it.
    int patternOf(const QByteArray &command) const
    {
        for (int p = 0; p < kPatterns; ++p) {
            if (!command.isEmpty() && commands[size_t(p)] == command)
                return p;
        }
        return -1;
    }
    QList<QByteArray> commandList() const
    {
        return QList<QByteArray>(commands.begin(), commands.end());
    }
};

} // namespace Oracle
