#include "profile/values.h"

namespace Profile {

namespace {
// Value streams sit apart from the rule streams the responder takes.
constexpr quint64 kValueStreams = quint64(1) << 32;
} // namespace

ValueBank::ValueBank(std::vector<ValueDef> defs, quint64 seed)
    : m_defs(std::move(defs))
{
    m_states.resize(m_defs.size());
    for (size_t i = 0; i < m_defs.size(); ++i)
        m_states[i].rng = Rng::stream(seed, kValueStreams + i);
    reset();
}

void ValueBank::reset()
{
    for (size_t i = 0; i < m_defs.size(); ++i) {
        State &state = m_states[i];
        state.position = m_defs[i].start;
        state.next = 0;
        state.started = false;
        state.stored = m_defs[i].initial;
        state.storedIsNumber = m_defs[i].initialIsNumber;
        state.storedNumber = m_defs[i].initialNumber;
        state.readIn = 0;
    }
}

int ValueBank::indexOf(QStringView name) const
{
    for (size_t i = 0; i < m_defs.size(); ++i) {
        if (m_defs[i].name == name)
            return int(i);
    }
    return -1;
}

const LocalTime &ValueBank::now(bool utc)
{
    if (utc) {
        if (m_utcReadIn != m_answer) {
            m_utcReadIn = m_answer;
            const QDateTime now = (m_wallClock ? m_wallClock() : QDateTime::currentDateTime())
                                      .toUTC();
            m_utcNow = LocalTime { now.date(), now.time() };
        }
        return m_utcNow;
    }
    if (m_clockReadIn == m_answer)
        return m_now;
    m_clockReadIn = m_answer;
    if (m_wallClock) {
        const QDateTime now = m_wallClock();
        m_now = LocalTime { now.date(), now.time() };
        return m_now;
    }
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = ms / 1000;
    if (second != m_localSecond) {
        m_localSecond = second;
        const QDateTime start = QDateTime::fromMSecsSinceEpoch(second * 1000);
        m_localSecondStart = LocalTime { start.date(), start.time() };
    }
    m_now = LocalTime { m_localSecondStart.date,
        m_localSecondStart.time.addMSecs(int(ms - second * 1000)) };
    return m_now;
}

void ValueBank::set(int index, const QByteArray &text)
{
    m_states[size_t(index)].stored = text;
    m_states[size_t(index)].storedIsNumber = false;
    // A value set by a rule shows its new text in the answer of that same rule.
    m_states[size_t(index)].readIn = 0;
}

void ValueBank::setNumber(int index, double number)
{
    State &state = m_states[size_t(index)];
    state.storedIsNumber = true;
    state.storedNumber = number;
    state.stored.clear();
    state.readIn = 0;
}

QByteArray ValueBank::reading(int index)
{
    QByteArray out;
    append(index, &out);
    return out;
}

QByteArray ValueBank::lastReading(int index) const
{
    const ValueDef &def = m_defs[size_t(index)];
    const State &state = m_states[size_t(index)];
    if (def.kind != ValueKind::Stored)
        return state.reading;
    QByteArray out;
    if (state.storedIsNumber)
        def.format.appendNumber(state.storedNumber, &out);
    else
        def.format.appendText(state.stored, &out);
    return out;
}

ValueBank::Snapshot ValueBank::snapshot() const
{
    Snapshot snapshot;
    for (const State &state : m_states) {
        snapshot.stored.push_back(state.stored);
        snapshot.isNumber.push_back(state.storedIsNumber);
        snapshot.number.push_back(state.storedNumber);
    }
    return snapshot;
}

void ValueBank::restore(const Snapshot &snapshot)
{
    for (size_t i = 0; i < m_states.size(); ++i) {
        m_states[i].stored = snapshot.stored[i];
        m_states[i].storedIsNumber = snapshot.isNumber[i];
        m_states[i].storedNumber = snapshot.number[i];
        m_states[i].readIn = 0;
    }
}

void ValueBank::append(int index, QByteArray *out)
{
    State &state = m_states[size_t(index)];
    if (state.readIn != m_answer) {
        state.readIn = m_answer;
        state.reading.clear();
        read(m_defs[size_t(index)], state, &state.reading);
    }
    out->append(state.reading);
}

void ValueBank::read(const ValueDef &def, State &state, QByteArray *out)
{
    switch (def.kind) {
    case ValueKind::Random:
        if (def.whole)
            def.format.appendNumber(
                double(state.rng.between(qint64(def.low), qint64(def.high))), out);
        else
            def.format.appendNumber(state.rng.uniform(def.low, def.high), out);
        return;
    case ValueKind::Walk:
        // The first reading is the start; every later one moves.
        if (state.started)
            state.position = qBound(
                def.low, state.position + state.rng.uniform(-def.step, def.step), def.high);
        state.started = true;
        def.format.appendNumber(state.position, out);
        return;
    case ValueKind::Counter:
        if (state.started) {
            state.position += def.step;
            const bool past = def.limit
                && (def.step >= 0 ? state.position > *def.limit : state.position < *def.limit);
            if (past)
                state.position = def.start;
        }
        state.started = true;
        def.format.appendNumber(state.position, out);
        return;
    case ValueKind::Sequence: {
        const ValueItem &item = def.items[state.next];
        state.next = (state.next + 1) % def.items.size();
        if (item.isNumber)
            def.format.appendNumber(item.number, out);
        else
            def.format.appendText(item.text, out);
        return;
    }
    case ValueKind::Clock:
        def.clock.append(now(def.utc), out);
        return;
    case ValueKind::Stored:
        if (state.storedIsNumber)
            def.format.appendNumber(state.storedNumber, out);
        else
            def.format.appendText(state.stored, out);
        return;
    }
}

} // namespace Profile
