#include "profile/responder.h"

#include "profile/modbus/slave.h"
#include "profile/scpi/engine.h"
#include "profile/script/luastate.h"
#include "profile/script/valueglobals.h"

#include <QRandomGenerator>

namespace Profile {

namespace {
constexpr int kContinuousKey = -1;
constexpr int kScriptKey = -2;
constexpr int kModbusKey = -3;
// The map's faults draw from a stream no rule index reaches.
constexpr quint64 kModbusStream = quint64(1) << 40;
// The SCPI table's stream, apart from the rules' (from 0) and the values' (from 2^32).
constexpr quint64 kScpiStream = quint64(1) << 31;
} // namespace

Responder::Responder(Instrument instrument, quint64 seed)
    : m_instrument(std::move(instrument))
    , m_seed(seed)
    , m_values(m_instrument.values, seed)
    , m_scpiState { Rng::stream(seed, kScpiStream), {} }
{
    addRuleStates();
    if (m_instrument.usesScript())
        startScript();
    if (m_instrument.modbus) {
        m_modbus = std::make_unique<Modbus::Slave>(*m_instrument.modbus);
        m_modbusRule.name = QStringLiteral("modbus");
        m_modbusRule.behaviour = m_instrument.defaults;
        m_modbusState.rng = Rng::stream(m_seed, kModbusStream);
    }
    if (m_instrument.scpi)
        m_scpi = std::make_unique<Scpi::Engine>(*m_instrument.scpi, m_instrument.values,
            m_instrument.framing, m_values, m_script.get(),
            [this](const Scpi::Sets &sets, const Expansion &with, QString *error) {
                return applySets(sets, with, error);
            });
}

Responder::~Responder() = default;

// One Lua state for the run: the expressions compiled, the script's top level run once.
void Responder::startScript()
{
    m_globals = std::make_unique<ValueGlobals>(m_values, m_instrument.values);
    m_script = std::make_unique<LuaState>(m_seed, m_instrument.folder);
    m_script->setGlobals(m_globals.get());
    // The host's lines, false until a host run by --exec sets them.
    setHostLines(false, false);
    QString error;
    for (const Expression &expression : m_instrument.expressions) {
        if (m_script->addExpression(expression.code, m_instrument.expressionChunk, expression.line,
                                    &error)
            < 0)
            report(QStringLiteral("script"), kScriptKey, error);
    }
    if (!m_instrument.script.isEmpty()
        && !m_script->run(m_instrument.script, m_instrument.scriptName, &error))
        report(QStringLiteral("script"), kScriptKey, error);
}

void Responder::report(const QString &where, int key, const QString &message)
{
    const bool first = !m_reported.contains(key);
    m_reported.insert(key);
    m_problems.push_back(ScriptProblem { where, message, first });
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
    Framing framing = m_instrument.framing;
    // Modbus RTU's silence: 3.5 characters at the line speed, 1.75 ms above 19200 bit/s.
    if (framing.mode == Framing::Mode::ModbusRtu)
        framing.gapNs = m_baud > 19200 ? 1'750'000 : qint64(35) * m_bitsPerByte * 100'000'000 / m_baud;
    return Framer::create(framing, m_matcher.windowLengths(),
        framing.mode == Framing::Mode::Rules ? m_matcher.commandReach() : nullptr);
}

qint64 Responder::byteGapNs(const Behaviour &behaviour) const
{
    // The line itself carries bytes no faster than its speed (the UART, or the virtual port's
    // pacing): "baud" is what every answer gets, only a character gap slows one further.
    return behaviour.pace == Pace::CharGap ? behaviour.charGapNs : 0;
}

// The first rule for a break whose when (if any) holds.
RuleMatcher::Match Responder::findBreakRule()
{
    RuleMatcher::Match found;
    for (int i = 0; i < int(m_instrument.rules.size()); ++i) {
        const Rule &rule = m_instrument.rules[size_t(i)];
        if (!rule.isBreak)
            continue;
        if (rule.when >= 0 && m_script) {
            m_script->setCommand(QByteArray(), {});
            ScriptValue holds;
            QString error;
            if (!m_script->evaluate(rule.when, &holds, &error)) {
                report(rule.name, i, error);
                continue;
            }
            if (holds.type == ScriptValue::Type::Nil
                || (holds.type == ScriptValue::Type::Boolean && !holds.boolean))
                continue;
        }
        found.rule = i;
        return found;
    }
    return found;
}

RuleMatcher::Match Responder::findRule(const QByteArray &frame)
{
    int after = -1;
    for (;;) {
        RuleMatcher::Match match = m_matcher.find(frame, after);
        if (match.rule < 0)
            return match;
        const Rule &rule = m_instrument.rules[size_t(match.rule)];
        if (rule.when < 0 || !m_script)
            return match;
        m_script->setCommand(frame, match.captures);
        ScriptValue holds;
        QString error;
        if (m_script->evaluate(rule.when, &holds, &error)) {
            const bool yes = holds.type == ScriptValue::Type::Boolean ? holds.boolean
                                                                      : holds.type != ScriptValue::Type::Nil;
            if (yes)
                return match;
        } else {
            report(rule.name, match.rule, error);
        }
        after = match.rule;
    }
}

// All or nothing: a failing key puts back what the keys before it stored.
bool Responder::applySets(const std::vector<std::pair<int, AnswerTemplate>> &sets,
                          const Expansion &with, QString *error)
{
    if (sets.empty())
        return true;
    const ValueBank::Snapshot before = m_values.snapshot();
    for (const auto &[value, text] : sets) {
        const int sole = text.soleExpression();
        bool ok = true;
        if (sole >= 0 && m_script) {
            ScriptValue result;
            ok = m_script->evaluate(sole, &result, error);
            if (ok)
                storeValue(m_values, value, result);
        } else {
            QByteArray bytes;
            ok = text.expand(with, &bytes, error);
            if (ok)
                m_values.set(value, bytes);
        }
        if (!ok) {
            m_values.restore(before);
            return false;
        }
    }
    return true;
}

bool Responder::expandAnswer(const Rule &rule, RuleState &state, const Expansion &with, Reply *reply)
{
    const Behaviour &behaviour = rule.behaviour;
    const auto delay = [&](const std::optional<std::pair<qint64, qint64>> &range, qint64 otherwise) {
        return range ? state.rng.between(range->first, range->second) : otherwise;
    };
    if (rule.parts.empty()) {
        if (!rule.answer->expand(with, &reply->bytes, &reply->failure))
            return false;
        reply->delayNs = state.rng.between(behaviour.minDelayNs, behaviour.maxDelayNs);
    } else {
        for (size_t i = 0; i < rule.parts.size(); ++i) {
            const AnswerPart &part = rule.parts[i];
            QByteArray bytes;
            if (!part.text.expand(with, &bytes, &reply->failure))
                return false;
            if (i == 0) {
                reply->bytes = bytes;
                reply->delayNs = delay(part.delayNs,
                    state.rng.between(behaviour.minDelayNs, behaviour.maxDelayNs));
            } else {
                reply->laterParts.push_back(ReplyPart { bytes, delay(part.delayNs, 0) });
            }
        }
    }
    // The faults fall on the last part: the reading, not its acknowledgement.
    QByteArray &last = reply->laterParts.empty() ? reply->bytes : reply->laterParts.back().bytes;
    const FaultOutcome outcome = applyFaults(behaviour, state.counters, state.rng, &last);
    reply->dropped = outcome.dropped && reply->laterParts.empty();
    if (outcome.dropped && !reply->laterParts.empty())
        last.clear();
    reply->faults = outcome.applied;
    reply->byteGapNs = byteGapNs(behaviour);
    return true;
}

Reply Responder::reply(const QByteArray &frame)
{
    return replyTo(frame, false);
}

Reply Responder::replyToBreak()
{
    return replyTo(QByteArray(), true);
}

Reply Responder::replyTo(const QByteArray &frame, bool isBreak)
{
    Reply reply;
    reply.command = frame;
    // Drawn values are read once per answer, also by the when of a rule that declines.
    m_values.beginAnswer();
    const RuleMatcher::Match match = isBreak ? findBreakRule() : findRule(frame);
    if (match.exhaustedAt >= 0)
        reply.budgetRule = m_instrument.rules[size_t(match.exhaustedAt)].name;
    // What no rule takes goes to the protocol the profile speaks, if any.
    if (match.rule < 0 && isBreak)
        return reply;
    if (match.rule < 0) {
        if (m_modbus)
            return answerByMap(std::move(reply));
        return m_scpi ? scpiReply(std::move(reply)) : reply;
    }
    const Rule &rule = m_instrument.rules[size_t(match.rule)];
    RuleState &state = m_ruleStates[size_t(match.rule)];
    reply.rule = rule.name;
    // A rule with a when has had its command set while it was judged.
    if (m_script && rule.when < 0)
        m_script->setCommand(frame, match.captures);
    const Expansion with { m_values, match.captures, m_script.get() };
    if (!applySets(rule.sets, with, &reply.failure)
        || ((rule.answer || !rule.parts.empty()) && !expandAnswer(rule, state, with, &reply))) {
        report(rule.name, match.rule, reply.failure);
        reply.bytes.clear();
        reply.laterParts.clear();
        return reply;
    }
    reply.matched = true;
    reply.continuous = rule.continuous;
    reply.lines = rule.lines;
    return reply;
}

Reply Responder::answerByMap(Reply reply)
{
    static const QList<QByteArray> none;
    if (m_script)
        m_script->setCommand(reply.command, none);
    const Expansion with { m_values, none, m_script.get() };
    const Modbus::Outcome outcome = m_modbus->handle(reply.command, with);
    reply.rule = m_modbusRule.name;
    if (!outcome.problem.isEmpty())
        report(m_modbusRule.name, kModbusKey, outcome.problem);
    if (!outcome.silence.isEmpty()) {
        reply.failure = outcome.silence;
        return reply;
    }
    reply.matched = true;
    if (outcome.broadcast)
        return reply;
    m_modbusRule.answer = AnswerTemplate::literal(outcome.answer);
    expandAnswer(m_modbusRule, m_modbusState, with, &reply);
    return reply;
}

// A program message no rule took, by the [scpi] table, under the [faults] behaviour.
Reply Responder::scpiReply(Reply reply)
{
    const Scpi::Engine::Outcome outcome = m_scpi->run(reply.command);
    reply.rule = QStringLiteral("scpi");
    if (!outcome.failure.isEmpty()) {
        reply.rule = QStringLiteral("scpi %1").arg(outcome.where);
        reply.failure = outcome.failure;
        report(reply.rule, outcome.failedKey, outcome.failure);
        return reply;
    }
    reply.matched = true;
    if (outcome.bytes.isEmpty())
        return reply;
    const Behaviour &behaviour = m_instrument.defaults;
    reply.bytes = outcome.bytes;
    reply.delayNs = m_scpiState.rng.between(behaviour.minDelayNs, behaviour.maxDelayNs);
    const FaultOutcome faults
        = applyFaults(behaviour, m_scpiState.counters, m_scpiState.rng, &reply.bytes);
    reply.dropped = faults.dropped;
    reply.faults = faults.applied;
    reply.byteGapNs = byteGapNs(behaviour);
    return reply;
}

QByteArray Responder::continuousText()
{
    QByteArray text;
    if (!hasContinuous())
        return text;
    m_values.beginAnswer();
    if (m_script)
        m_script->setCommand(QByteArray(), {});
    QString error;
    static const QList<QByteArray> none;
    if (!m_instrument.continuous->text->expand({ m_values, none, m_script.get() }, &text, &error)) {
        report(QStringLiteral("continuous"), kContinuousKey, error);
        text.clear();
    }
    return text;
}

void Responder::setLineSpeed(int baud, int bitsPerByte)
{
    m_baud = baud;
    m_bitsPerByte = bitsPerByte;
}

bool Responder::setValue(const QString &name, const QByteArray &text, QString *error)
{
    return setValue(name, ScriptValue::ofBytes(text), error);
}

bool Responder::setValue(const QString &name, const ScriptValue &value, QString *error)
{
    const int index = m_values.indexOf(name);
    if (index < 0 && m_script) {
        m_script->setGlobal(name.toUtf8(), value);
        return true;
    }
    if (index < 0) {
        *error = QStringLiteral("no value '%1'").arg(name);
        return false;
    }
    if (!m_values.isSettable(index)) {
        *error = QStringLiteral("value '%1' has no initial text and cannot be set").arg(name);
        return false;
    }
    storeValue(m_values, index, value);
    return true;
}

void Responder::setHostLines(bool dtr, bool rts)
{
    if (!m_script)
        return;
    const std::pair<const char *, bool> lines[] = { { "dtr", dtr }, { "rts", rts } };
    for (const auto &[name, up] : lines) {
        // A value of that name is the profile's own.
        if (m_values.indexOf(QString::fromLatin1(name)) < 0)
            m_script->setGlobal(name, ScriptValue::ofBoolean(up));
    }
}

bool Responder::call(const QString &function, const std::vector<ScriptValue> &args,
                     ScriptValue *result, QString *error)
{
    if (!m_script) {
        *error = QStringLiteral("the profile has no script");
        return false;
    }
    return m_script->call(function, args, result, error);
}

bool Responder::setFaultEnabled(const QString &rule, FaultKind kind, bool enabled)
{
    bool found = false;
    const auto toggle = [&](const QString &name, Behaviour &behaviour) {
        FaultSetting &setting = behaviour.fault(kind);
        if ((rule.isEmpty() || name == rule) && setting.configured) {
            setting.enabled = enabled;
            found = true;
        }
    };
    for (Rule &r : m_instrument.rules)
        toggle(r.name, r.behaviour);
    // The protocols' answers have the [faults] behaviour, under their own names.
    if (m_modbus)
        toggle(m_modbusRule.name, m_modbusRule.behaviour);
    if (m_scpi)
        toggle(QStringLiteral("scpi"), m_instrument.defaults);
    return found;
}

quint64 drawSeed()
{
    return QRandomGenerator::system()->generate64();
}

} // namespace Profile
