#include "record/exchangeinference.h"

#include <algorithm>
#include <limits>

namespace Recording {

namespace {

constexpr qint64 kNsPerMs = 1'000'000;
// Without any answer to bound it, a gap well above the silences inside the host's writes.
constexpr qint64 kUnboundedGapFloorNs = 10 * kNsPerMs;
// The longest gap a profile takes.
constexpr qint64 kLongestGapMs = 3'600'000;
constexpr qint64 kNever = std::numeric_limits<qint64>::max();

// What one side said before the other spoke: the reads that make it up, which follow each
// other in the recording.
struct Turn
{
    Side from = Side::Host;
    const RecordedReads *reads = nullptr;
    size_t begin = 0;
    size_t end = 0;

    size_t size() const { return end - begin; }
    Read read(size_t k) const { return reads->at(begin + k); }
    QByteArray bytes() const
    {
        QByteArray all;
        for (size_t k = 0; k < size(); ++k)
            all += read(k).bytes;
        return all;
    }
    qint64 firstNs() const { return read(0).atNs; }
    qint64 lastNs() const { return read(size() - 1).atNs; }
};

std::vector<Turn> turnsOf(const RecordedReads &reads)
{
    std::vector<Turn> turns;
    for (size_t i = 0; i < reads.size(); ++i) {
        const Side from = reads.at(i).from;
        if (turns.empty() || turns.back().from != from)
            turns.push_back(Turn { from, &reads, i, i });
        turns.back().end = i + 1;
    }
    return turns;
}

bool answeredTurn(const std::vector<Turn> &turns, size_t i)
{
    return turns[i].from == Side::Host && i + 1 < turns.size();
}

// The characters instruments end their commands with: CR, LF, and ETX, EOT, ETB of ASCII
// (which the settings notation calls [EOT], [EXT], [ETB]). Others at the end of every command
// are a coincidence of binary frames (a checksum's byte), not a terminator.
bool endsCommands(char c)
{
    return c == '\r' || c == '\n' || c == '\x03' || c == '\x04' || c == '\x17';
}

qsizetype commonSuffixLength(const QByteArray &a, const QByteArray &b)
{
    qsizetype n = 0;
    while (n < a.size() && n < b.size() && a[a.size() - 1 - n] == b[b.size() - 1 - n])
        ++n;
    return n;
}

// Turns the host's turns into commands, each turn's commands ending inside it.
using CommandsByTurn = std::vector<std::vector<Exchange>>;

CommandsByTurn cutAtTerminator(const std::vector<Turn> &turns, const QByteArray &terminator,
                               QByteArray *unfinished)
{
    CommandsByTurn commands(turns.size());
    QByteArray pending;
    for (size_t t = 0; t < turns.size(); ++t) {
        if (turns[t].from != Side::Host)
            continue;
        for (size_t k = 0; k < turns[t].size(); ++k) {
            const Read read = turns[t].read(k);
            // Searched from where a terminator may have begun, as the framer searches, so
            // that a long stretch without one is read once.
            qsizetype from = std::max<qsizetype>(0, pending.size() - terminator.size() + 1);
            pending += read.bytes;
            qsizetype end;
            while ((end = pending.indexOf(terminator, from)) >= 0) {
                Exchange exchange;
                exchange.command = pending.left(end + terminator.size());
                exchange.completeNs = read.atNs;
                commands[t].push_back(std::move(exchange));
                pending.remove(0, end + terminator.size());
                from = 0;
            }
        }
    }
    *unfinished = pending;
    return commands;
}

// The silence that ends a command lies between the longest pause inside the host's writes and
// the quickest answer: the instrument had taken its command as whole by then. It is never
// shorter than three and a half bytes on the line, the silence binary protocols such as Modbus
// RTU end a frame with: a shorter one would cut a command whose bytes a real line spaces out.
qint64 inferGapNs(const std::vector<Turn> &turns, qint64 byteNs)
{
    qint64 quickest = kNever;
    for (size_t t = 0; t < turns.size(); ++t) {
        if (answeredTurn(turns, t))
            quickest = std::min(quickest, turns[t + 1].firstNs() - turns[t].lastNs());
    }
    qint64 longestInside = 0;
    for (const Turn &turn : turns) {
        if (turn.from != Side::Host)
            continue;
        for (size_t k = 1; k < turn.size(); ++k) {
            const qint64 silence = turn.read(k).atNs - turn.read(k - 1).atNs;
            if (silence < quickest)
                longestInside = std::max(longestInside, silence);
        }
    }
    const qint64 gap = quickest == kNever ? std::max(2 * longestInside, kUnboundedGapFloorNs)
                                          : (longestInside + std::max<qint64>(quickest, 0)) / 2;
    // A profile gives the gap in whole milliseconds; rounded down, it stays below the quickest
    // answer, which under gap framing is only sent once the gap has passed.
    const qint64 floorMs = (7 * byteNs / 2 + kNsPerMs - 1) / kNsPerMs;
    return std::clamp<qint64>(std::max(gap / kNsPerMs, floorMs), 1, kLongestGapMs) * kNsPerMs;
}

CommandsByTurn cutAtSilences(const std::vector<Turn> &turns, qint64 gapNs)
{
    CommandsByTurn commands(turns.size());
    for (size_t t = 0; t < turns.size(); ++t) {
        if (turns[t].from != Side::Host)
            continue;
        Exchange current;
        for (size_t k = 0; k < turns[t].size(); ++k) {
            const Read read = turns[t].read(k);
            if (k > 0 && read.atNs - turns[t].read(k - 1).atNs >= gapNs) {
                commands[t].push_back(std::move(current));
                current = Exchange();
            }
            current.command += read.bytes;
            current.completeNs = read.atNs;
        }
        commands[t].push_back(std::move(current));
    }
    return commands;
}

} // namespace

QByteArray commonTerminator(const RecordedReads &reads)
{
    const std::vector<Turn> turns = turnsOf(reads);
    bool anyAnswered = false;
    for (size_t t = 0; t < turns.size(); ++t)
        anyAnswered = anyAnswered || answeredTurn(turns, t);
    QByteArray common;
    bool first = true;
    for (size_t t = 0; t < turns.size(); ++t) {
        if (turns[t].from != Side::Host || (anyAnswered && !answeredTurn(turns, t)))
            continue;
        const QByteArray bytes = turns[t].bytes();
        common = first ? bytes : common.right(commonSuffixLength(common, bytes));
        first = false;
    }
    qsizetype run = 0;
    while (run < common.size() && endsCommands(common[common.size() - 1 - run]))
        ++run;
    return common.right(run);
}

Exchanges inferExchanges(const RecordedReads &reads, qint64 byteNs)
{
    Exchanges result;
    const std::vector<Turn> turns = turnsOf(reads);
    const QByteArray terminator = commonTerminator(reads);
    CommandsByTurn commands;
    if (!terminator.isEmpty()) {
        result.framing.mode = Profile::Framing::Mode::Terminator;
        result.framing.terminator = terminator;
        commands = cutAtTerminator(turns, terminator, &result.unfinished);
    } else {
        result.framing.mode = Profile::Framing::Mode::Gap;
        result.framing.gapNs = inferGapNs(turns, byteNs);
        commands = cutAtSilences(turns, result.framing.gapNs);
    }
    for (size_t t = 0; t < turns.size(); ++t) {
        if (turns[t].from == Side::Device) {
            // A host turn before it has been handled with its answer already.
            if (t == 0 || commands[t - 1].empty())
                result.unaskedBytes += turns[t].bytes().size();
            continue;
        }
        std::vector<Exchange> &cut = commands[t];
        if (!cut.empty() && t + 1 < turns.size()) {
            Exchange &last = cut.back();
            last.answered = true;
            last.answer = turns[t + 1].bytes();
            last.delayNs = std::max<qint64>(0, turns[t + 1].firstNs() - last.completeNs);
        }
        for (Exchange &exchange : cut)
            result.exchanges.push_back(std::move(exchange));
    }
    return result;
}

} // namespace Recording
