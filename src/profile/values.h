#pragma once

#include "profile/clockformat.h"
#include "profile/numberformat.h"
#include "profile/seededrandom.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace Profile {

enum class ValueKind { Random, Walk, Sequence, Counter, Clock, Stored };

// A number, or bytes: an item of a sequence.
struct ValueItem
{
    bool isNumber = false;
    double number = 0;
    QByteArray text;
};

// One [values.NAME] table of a profile.
struct ValueDef
{
    QString name;
    ValueKind kind = ValueKind::Stored;
    // Random: the range. Walk: where it is held (infinite when unbounded).
    double low = 0;
    double high = 0;
    // Random: whole bounds give whole numbers.
    bool whole = false;
    // Walk: the first reading and the largest move. Counter: the first reading and the
    // increment.
    double start = 0;
    double step = 0;
    // Counter: a reading past it starts again from start.
    std::optional<double> limit;
    std::vector<ValueItem> items;
    // Stored: the text before any rule sets it, or the number when initialIsNumber.
    QByteArray initial;
    bool initialIsNumber = false;
    double initialNumber = 0;
    ClockFormat clock;
    // Clock: UTC instead of local time.
    bool utc = false;
    NumberFormat format;
};

// The running state of a profile's values: where each walk stands, the next item of each
// sequence, each counter, the stored texts. Each value draws from a random stream of its
// own, so one seed gives each value the same series however reads of the values interleave.
class ValueBank
{
public:
    ValueBank() = default;
    ValueBank(std::vector<ValueDef> defs, quint64 seed);

    // Local time for clock values and {time}/{date}; the real clock unless a test sets one.
    // It is the one thing a seed does not repeat.
    void setWallClock(std::function<QDateTime()> now) { m_wallClock = std::move(now); }

    // Starts an answer: within one answer each value is read once, so a template that names
    // a value twice writes the same reading twice, and the clock is read at most once.
    void beginAnswer() { ++m_answer; }
    void append(int index, QByteArray *out);
    // The local time (or UTC) as read once in the answer.
    const LocalTime &now(bool utc = false);

    // Only stored values (those with an initial text) are set, by rules and at run time. A
    // stored value holds bytes or a number, and is written as what it holds: bytes go
    // through a binary format as they are, a number as a number.
    bool isSettable(int index) const { return m_defs[size_t(index)].kind == ValueKind::Stored; }
    void set(int index, const QByteArray &text);
    void setNumber(int index, double number);
    // What a script reads: a stored value's bytes or number, a drawn one's reading in this
    // answer (drawn on the first read).
    bool isNumber(int index) const { return m_states[size_t(index)].storedIsNumber; }
    double storedNumber(int index) const { return m_states[size_t(index)].storedNumber; }
    QByteArray storedText(int index) const { return m_states[size_t(index)].stored; }
    QByteArray reading(int index);

    // The stored values as they stand, to put back when a set fails half way.
    struct Snapshot
    {
        std::vector<QByteArray> stored;
        std::vector<bool> isNumber;
        std::vector<double> number;
    };
    Snapshot snapshot() const;
    void restore(const Snapshot &snapshot);
    // Every value as at the start (a SCPI *RST): stored ones back to their initial, walks,
    // counters and sequences from their first reading. The random streams go on, so a seed
    // still repeats the session.
    void reset();

    int indexOf(QStringView name) const;
    int count() const { return int(m_defs.size()); }
    const ValueDef &def(int index) const { return m_defs[size_t(index)]; }
    // For a window over a run: a stored value as an answer would write it now, a drawn one as
    // it was last drawn (empty before its first reading). Never draws: looking must not move
    // the seeded streams, or a watched run would differ from the same run unwatched.
    QByteArray lastReading(int index) const;

private:
    struct State
    {
        Rng rng;
        double position = 0;
        size_t next = 0;
        bool started = false;
        QByteArray stored;
        bool storedIsNumber = false;
        double storedNumber = 0;
        quint64 readIn = 0;
        QByteArray reading;
    };

    void read(const ValueDef &def, State &state, QByteArray *out);

    std::vector<ValueDef> m_defs;
    std::vector<State> m_states;
    std::function<QDateTime()> m_wallClock;
    quint64 m_answer = 1;
    quint64 m_clockReadIn = 0;
    quint64 m_utcReadIn = 0;
    LocalTime m_now;
    LocalTime m_utcNow;
    // Local time is found once a second and the milliseconds added: turning a clock reading
    // into local time costs more than the rest of an answer, and an offset from UTC changes
    // only on whole seconds.
    qint64 m_localSecond = -1;
    LocalTime m_localSecondStart;
};

} // namespace Profile
