#include "record/recordedprofile.h"

#include "text/notation.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <vector>

namespace Recording {

namespace {

constexpr double kNsPerMs = 1'000'000.0;
// Delays closer together than this are one delay seen through the scheduling of two
// processes and a driver, not an instrument that varies.
constexpr double kSteadySpreadMs = 2.0;
constexpr int kDefaultMaxBytes = 4096;
// What the loader takes: an answer after more than an hour was no answer to that command, and
// a command beyond a mebibyte was a flood.
constexpr double kLongestMs = 3'600'000;
constexpr qsizetype kLongestCommand = 1 << 20;

// Every time the host sent one command, in the order first sent.
struct CommandSeen
{
    QByteArray command;
    std::vector<const Exchange *> times;
};

std::vector<CommandSeen> byCommand(const std::vector<Exchange> &exchanges)
{
    std::vector<CommandSeen> seen;
    for (const Exchange &exchange : exchanges) {
        auto it = std::find_if(seen.begin(), seen.end(), [&](const CommandSeen &s) {
            return s.command == exchange.command;
        });
        if (it == seen.end())
            it = seen.insert(seen.end(), CommandSeen { exchange.command, {} });
        it->times.push_back(&exchange);
    }
    return seen;
}

bool anyAnswer(const CommandSeen &seen)
{
    return std::any_of(seen.times.begin(), seen.times.end(),
                       [](const Exchange *e) { return e->answered; });
}

bool answeredAlike(const CommandSeen &seen)
{
    const Exchange *first = seen.times.front();
    return std::all_of(seen.times.begin(), seen.times.end(), [first](const Exchange *e) {
        return e->answered == first->answered && e->answer == first->answer;
    });
}

// A comment holds one line of text whatever a device name holds.
QString commentLine(const QString &text)
{
    QString line = text;
    for (QChar &c : line) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char(' ');
    }
    return QStringLiteral("# ") + line + QLatin1Char('\n');
}

// The answer's bytes as a template: the notation with "{" doubled, so none reads as a value.
QString templateString(const QByteArray &bytes)
{
    return tomlString(bytes).replace(QLatin1Char('{'), QStringLiteral("{{"));
}

// Under gap framing the instrument's delay counts from the end of the silence.
QString delayLine(const CommandSeen &seen, qint64 countedFromNs)
{
    std::vector<double> ms;
    for (const Exchange *exchange : seen.times) {
        if (!exchange->answered)
            continue;
        const qint64 ns = std::max<qint64>(0, exchange->delayNs - countedFromNs);
        ms.push_back(std::min(kLongestMs, double(ns) / kNsPerMs));
    }
    if (ms.empty())
        return QString();
    std::sort(ms.begin(), ms.end());
    const size_t n = ms.size();
    const double median = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
    // Judged by the middle half, so that a few late reads on a busy machine do not make a
    // steady instrument look like a varying one.
    const double middleHalf = ms[(3 * n) / 4 - (n % 4 == 0 ? 1 : 0)] - ms[n / 4];
    if (middleHalf <= std::max(kSteadySpreadMs, median / 4))
        return QStringLiteral("delay_ms = %1\n").arg(std::llround(median));
    return QStringLiteral("delay_ms = [%1, %2]\n")
            .arg(qint64(std::floor(ms.front())))
            .arg(qint64(std::ceil(ms.back())));
}

QString framingTable(const Exchanges &recorded, qsizetype longestCommand)
{
    QString table = QStringLiteral("[framing]\n");
    if (recorded.framing.mode == Profile::Framing::Mode::Terminator)
        table += QStringLiteral("terminator = \"%1\"\n")
                         .arg(tomlString(recorded.framing.terminator));
    else
        table += QStringLiteral("gap_ms = %1\n").arg(recorded.framing.gapNs / qint64(kNsPerMs));
    if (longestCommand > kDefaultMaxBytes)
        table += QStringLiteral("max_bytes = %1\n").arg(std::min(longestCommand, kLongestCommand));
    return table + QLatin1Char('\n');
}

QString header(const Exchanges &recorded, const std::vector<CommandSeen> &seen,
               const RecordingInfo &info)
{
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    QString text = commentLine(
            QStringLiteral("Recorded by kalo_rs232c --record from %1 (%2), %3 to %4.")
                    .arg(info.device, info.lineSettings, info.began.toString(format),
                         info.ended.toString(format)));
    if (recorded.exchanges.empty())
        return text + commentLine(QStringLiteral("Nothing was exchanged: no rules, nothing is "
                                                 "answered."));
    const auto answers = std::count_if(recorded.exchanges.begin(), recorded.exchanges.end(),
                                       [](const Exchange &e) { return e.answered; });
    text += commentLine(QStringLiteral("%1 commands (%2 different), %3 answered.")
                                .arg(recorded.exchanges.size())
                                .arg(seen.size())
                                .arg(answers));
    if (recorded.framing.mode == Profile::Framing::Mode::Terminator)
        text += commentLine(QStringLiteral("Commands end with %1, as every answered one did.")
                                    .arg(Profile::toNotation(recorded.framing.terminator)));
    else
        text += commentLine(QStringLiteral("The commands share no end characters: a silence of "
                                           "%1 ms ends one.")
                                    .arg(recorded.framing.gapNs / qint64(kNsPerMs)));
    if (!std::all_of(seen.begin(), seen.end(), answeredAlike))
        text += commentLine(QStringLiteral("A command answered differently plays its answers in "
                                           "the order seen, then from the first again."));
    if (recorded.unaskedBytes > 0)
        text += commentLine(QStringLiteral("Not played: %1 bytes the instrument sent unasked.")
                                    .arg(recorded.unaskedBytes));
    if (!recorded.unfinished.isEmpty())
        text += commentLine(QStringLiteral("Not played: the host's unfinished command at the "
                                           "end, %1")
                                    .arg(Profile::toNotation(recorded.unfinished)));
    return text;
}

} // namespace

QString tomlString(const QByteArray &bytes)
{
    // The notation writes printable ASCII only, so these two are all TOML needs escaped.
    QString text = Profile::toNotation(bytes);
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    text.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return text;
}

QByteArray recordedProfileText(const Exchanges &recorded, const RecordingInfo &info)
{
    const std::vector<CommandSeen> seen = byCommand(recorded.exchanges);
    QString text = header(recorded, seen, info);
    if (seen.empty())
        return text.toUtf8();

    qsizetype longest = 0;
    for (const CommandSeen &command : seen)
        longest = std::max(longest, command.command.size());
    text += QLatin1Char('\n') + framingTable(recorded, longest);

    const qint64 countedFromNs =
            recorded.framing.mode == Profile::Framing::Mode::Gap ? recorded.framing.gapNs : 0;
    for (size_t r = 0; r < seen.size(); ++r) {
        QString rule = QStringLiteral("[[rule]]\nname = \"%1\"\nmatch = \"%1\"\n")
                               .arg(tomlString(seen[r].command));
        // A command never answered gets no answer: the rule takes it and sends nothing.
        if (anyAnswer(seen[r]) && answeredAlike(seen[r])) {
            rule += QStringLiteral("answer = \"%1\"\n")
                            .arg(templateString(seen[r].times.front()->answer));
        } else if (anyAnswer(seen[r])) {
            const QString value = QStringLiteral("answers_%1").arg(r + 1);
            QStringList items;
            for (const Exchange *exchange : seen[r].times)
                items.append(QLatin1Char('"') + tomlString(exchange->answer) + QLatin1Char('"'));
            text += QStringLiteral("[values.%1]\nsequence = [%2]\n\n")
                            .arg(value, items.join(QStringLiteral(", ")));
            rule += QStringLiteral("answer = \"{%1}\"\n").arg(value);
        }
        text += rule + delayLine(seen[r], countedFromNs) + QLatin1Char('\n');
    }
    return text.toUtf8();
}

} // namespace Recording
