#include "profile/responder.h"

#include <QRandomGenerator>

namespace Profile {

Responder::Responder(Instrument instrument, quint64 seed)
    : m_instrument(std::move(instrument))
    , m_seed(seed)
    , m_values(m_instrument.values, seed)
{
    addRuleStates();
}

void Responder::addRuleStates()
{
    // Rule i draws from stream i: appending the patterns leaves the profile's rules alone.
    for (size_t i = m_ruleStates.size(); i < m_instrument.rules.size(); ++i)
        m_ruleStates.push_back(RuleState { Rng::stream(m_seed, i), {} });
    m_matcher.build(m_instrument.rules);
}

void Responder::appendPatterns(const QList<QByteArray> &commands, const QList<QByteArray> &answers)
{
    for (qsizetype i = 0; i < commands.size(); ++i) {
        if (commands[i].isEmpty())
            continue;
        Rule rule;
        rule.name = QStringLiteral("pattern %1").arg(i + 1);
        rule.exact = commands[i];
        rule.answer = AnswerTemplate::literal(answers.value(i));
        rule.behaviour = m_instrument.defaults;
        m_instrument.rules.push_back(std::move(rule));
    }
    addRuleStates();
}

std::unique_ptr<Framer> Responder::makeFramer() const
{
    const Framing &framing = m_instrument.framing;
    return Framer::create(framing, m_matcher.windowLengths(),
        framing.mode == Framing::Mode::Rules ? m_matcher.commandReach() : nullptr);
}

qint64 Responder::byteGapNs(const Behaviour &behaviour) const
{
    switch (behaviour.pace) {
    case Pace::None:
        return 0;
    case Pace::CharGap:
        return behaviour.charGapNs;
    case Pace::Baud:
        break;
    }
    return m_baud > 0 ? qint64(m_bitsPerByte) * 1'000'000'000 / m_baud : 0;
}

Reply Responder::reply(const QByteArray &frame)
{
    Reply reply;
    reply.command = frame;
    const RuleMatcher::Match match = m_matcher.find(frame);
    if (match.exhaustedAt >= 0)
        reply.budgetRule = m_instrument.rules[size_t(match.exhaustedAt)].name;
    if (match.rule < 0)
        return reply;
    const Rule &rule = m_instrument.rules[size_t(match.rule)];
    RuleState &state = m_ruleStates[size_t(match.rule)];
    reply.matched = true;
    reply.rule = rule.name;
    m_values.beginAnswer();
    for (const auto &[value, text] : rule.sets) {
        QByteArray bytes;
        text.expand(m_values, match.captures, &bytes);
        m_values.set(value, bytes);
    }
    if (!rule.answer)
        return reply;
    rule.answer->expand(m_values, match.captures, &reply.bytes);
    const Behaviour &behaviour = rule.behaviour;
    reply.delayNs = state.rng.between(behaviour.minDelayNs, behaviour.maxDelayNs);
    const FaultOutcome outcome = applyFaults(behaviour, state.counters, state.rng, &reply.bytes);
    reply.dropped = outcome.dropped;
    reply.faults = outcome.applied;
    reply.byteGapNs = byteGapNs(behaviour);
    return reply;
}

QByteArray Responder::continuousText()
{
    QByteArray text;
    if (!m_instrument.continuous)
        return text;
    m_values.beginAnswer();
    m_instrument.continuous->expand(m_values, {}, &text);
    return text;
}

void Responder::setLineSpeed(int baud, int bitsPerByte)
{
    m_baud = baud;
    m_bitsPerByte = bitsPerByte;
}

bool Responder::setValue(const QString &name, const QByteArray &text, QString *error)
{
    const int index = m_values.indexOf(name);
    if (index < 0) {
        *error = QStringLiteral("no value '%1'").arg(name);
        return false;
    }
    if (!m_values.isSettable(index)) {
        *error = QStringLiteral("value '%1' has no initial text and cannot be set").arg(name);
        return false;
    }
    m_values.set(index, text);
    return true;
}

bool Responder::setFaultEnabled(const QString &rule, FaultKind kind, bool enabled)
{
    bool found = false;
    for (Rule &r : m_instrument.rules) {
        FaultSetting &setting = r.behaviour.fault(kind);
        if ((rule.isEmpty() || r.name == rule) && setting.configured) {
            setting.enabled = enabled;
            found = true;
        }
    }
    return found;
}

quint64 drawSeed()
{
    return QRandomGenerator::system()->generate64();
}

} // namespace Profile
