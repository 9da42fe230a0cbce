#include "profile/scpi/engine.h"

#include "profile/scpi/numericdata.h"
#include "profile/script/luastate.h"

#include <cmath>

namespace Profile::Scpi {

namespace {
constexpr const char *kUndefinedHeader = "Undefined header";
constexpr int kFailedCommandKey = -100;

bool wantsNoParameter(const ProgramUnit &unit, StatusModel &status)
{
    if (unit.parameters.empty())
        return true;
    status.report(-108, QByteArrayLiteral("Parameter not allowed"));
    return false;
}
} // namespace

Engine::Engine(const Table &table, const std::vector<ValueDef> &defs, const Framing &framing,
               ValueBank &values, LuaState *script, ApplySets applySets)
    : m_table(table)
    , m_defs(defs)
    , m_terminator(framing.mode == Framing::Mode::Terminator ? framing.terminator
                                                             : QByteArrayLiteral("\n"))
    , m_values(values)
    , m_script(script)
    , m_applySets(std::move(applySets))
{ }

Engine::Outcome Engine::run(const QByteArray &frame)
{
    Outcome outcome;
    m_answers.clear();
    m_answered = false;
    const QByteArray message
        = frame.endsWith(m_terminator) ? frame.chopped(m_terminator.size()) : frame;
    const std::vector<ProgramUnit> units = parseProgramMessage(message);
    // The level rule: a header goes on from the level of the one before unless it starts
    // with ':'; a common command leaves the level alone.
    Path level;
    Path path;
    for (const ProgramUnit &unit : units) {
        if (unit.syntaxError) {
            fail(-102, "Syntax error");
            continue;
        }
        path.clear();
        if (!unit.header.common && !unit.header.absolute)
            path = level;
        for (const ReceivedNode &node : unit.header.nodes)
            path.push_back(&node);
        if (!unit.header.common)
            level.assign(path.begin(), path.end() - 1);
        if (!runUnit(unit, path, &outcome))
            return outcome;
    }
    if (m_answered)
        outcome.bytes = m_answers + m_terminator;
    return outcome;
}

void Engine::answer(const QByteArray &text)
{
    if (m_answered)
        m_answers += ';';
    m_answers += text;
    m_answered = true;
}

bool Engine::runUnit(const ProgramUnit &unit, const Path &path, Outcome *outcome)
{
    m_values.beginAnswer();
    const bool query = unit.header.query;
    // *RST is the instrument's own first, then the profile's addition to it.
    const Builtin builtin = findBuiltin(path, query);
    if (builtin == Builtin::Rst)
        return reset(path, unit, outcome);
    HeaderPattern::Suffixes suffixes;
    for (size_t i = 0; i < m_table.commands.size(); ++i) {
        const HeaderPattern &header = m_table.commands[i].header;
        if (header.isCommon() != unit.header.common || !header.matches(path, &suffixes))
            continue;
        // A query of a command-only header is as undefined as an unknown one.
        if (header.isQuery() == query)
            return runCommand(i, unit, suffixes, outcome);
    }
    for (const Property &property : m_table.properties) {
        if (property.header.matches(path, &suffixes)) {
            runProperty(property, unit);
            return true;
        }
    }
    if (builtin != Builtin::None && !(builtin == Builtin::IdnQuery && m_table.idn.isEmpty())) {
        runBuiltin(builtin, unit);
        return true;
    }
    fail(-113, kUndefinedHeader);
    return true;
}

bool Engine::runCommand(size_t index, const ProgramUnit &unit,
                        const HeaderPattern::Suffixes &suffixes, Outcome *outcome)
{
    const Command &command = m_table.commands[index];
    const int count = int(unit.parameters.size());
    if (count < command.minParameters) {
        fail(-109, "Missing parameter");
        return true;
    }
    if (count > command.maxParameters) {
        fail(-108, "Parameter not allowed");
        return true;
    }
    for (size_t i = 0; i < command.suffixValues.size(); ++i)
        m_values.setNumber(command.suffixValues[i], suffixes[qsizetype(i)]);
    QList<QByteArray> captures { unit.text };
    for (const Parameter &parameter : unit.parameters)
        captures.push_back(parameter.text);
    if (m_script) {
        m_script->setCommand(unit.text, captures);
        m_script->setArguments(captures.mid(1));
    }
    const Expansion with { m_values, captures, m_script };
    QByteArray text;
    QString error;
    if (!m_applySets(command.sets, with, &error)
        || (command.answer && !command.answer->expand(with, &text, &error))) {
        // The profile's own fault, not the host's: the host sees a device error.
        fail(-300, "Device-specific error");
        outcome->failure = error;
        outcome->where = command.name;
        outcome->failedKey = kFailedCommandKey - int(index);
        return false;
    }
    if (command.answer)
        answer(text);
    return true;
}

void Engine::runProperty(const Property &property, const ProgramUnit &unit)
{
    const ValueDef &def = m_defs[size_t(property.value)];
    if (!unit.header.query) {
        if (unit.parameters.empty())
            fail(-109, "Missing parameter");
        else if (unit.parameters.size() > 1)
            fail(-108, "Parameter not allowed");
        else
            setProperty(property, unit.parameters[0]);
        return;
    }
    if (unit.parameters.empty()) {
        answer(m_values.reading(property.value));
        return;
    }
    // FREQ? MAX: the bound, in the property's format.
    const NumericKeyword keyword
        = unit.parameters.size() == 1 && property.isNumeric() ? numericKeyword(unit.parameters[0])
                                                              : NumericKeyword::None;
    if (keyword == NumericKeyword::None) {
        fail(-108, "Parameter not allowed");
        return;
    }
    const double bound = keyword == NumericKeyword::Minimum ? property.min.value_or(def.initialNumber)
        : keyword == NumericKeyword::Maximum                ? property.max.value_or(def.initialNumber)
                                                            : def.initialNumber;
    QByteArray text;
    def.format.appendNumber(bound, &text);
    answer(text);
}

void Engine::setProperty(const Property &property, const Parameter &parameter)
{
    if (!property.choices.isEmpty()) {
        if (const QByteArray *stored = property.choices.match(parameter))
            m_values.set(property.value, *stored);
        else
            fail(-224, "Illegal parameter value");
        return;
    }
    if (!property.isNumeric()) {
        m_values.set(property.value, parameter.quoted
                ? parameter.quote + parameter.text + parameter.quote
                : parameter.text);
        return;
    }
    const ValueDef &def = m_defs[size_t(property.value)];
    double number = 0;
    switch (numericKeyword(parameter)) {
    case NumericKeyword::Minimum:
        number = property.min.value_or(def.initialNumber);
        break;
    case NumericKeyword::Maximum:
        number = property.max.value_or(def.initialNumber);
        break;
    case NumericKeyword::Default:
        number = def.initialNumber;
        break;
    case NumericKeyword::None:
        if (const std::optional<double> sent = decimalNumber(parameter)) {
            number = *sent;
            break;
        }
        fail(-104, "Data type error");
        return;
    }
    if ((property.min && number < *property.min) || (property.max && number > *property.max)) {
        fail(-222, "Data out of range");
        return;
    }
    m_values.setNumber(property.value, number);
}

std::optional<quint8> Engine::maskParameter(const ProgramUnit &unit)
{
    if (unit.parameters.empty()) {
        fail(-109, "Missing parameter");
        return std::nullopt;
    }
    if (unit.parameters.size() > 1) {
        fail(-108, "Parameter not allowed");
        return std::nullopt;
    }
    const std::optional<double> number = decimalNumber(unit.parameters[0]);
    if (!number) {
        fail(-104, "Data type error");
        return std::nullopt;
    }
    const double rounded = std::round(*number);
    if (rounded < 0 || rounded > 255) {
        fail(-222, "Data out of range");
        return std::nullopt;
    }
    return quint8(rounded);
}

void Engine::runBuiltin(Builtin builtin, const ProgramUnit &unit)
{
    if (builtin == Builtin::Ese || builtin == Builtin::Sre) {
        if (const std::optional<quint8> mask = maskParameter(unit))
            (builtin == Builtin::Ese ? m_status.ese : m_status.sre) = *mask;
        return;
    }
    if (!wantsNoParameter(unit, m_status))
        return;
    switch (builtin) {
    case Builtin::Cls:
        m_status.clear();
        return;
    case Builtin::EseQuery:
        answer(QByteArray::number(m_status.ese));
        return;
    case Builtin::EsrQuery:
        answer(QByteArray::number(m_status.takeEsr()));
        return;
    case Builtin::IdnQuery:
        answer(m_table.idn);
        return;
    case Builtin::Opc:
        // Every operation is over when its command has run.
        m_status.operationComplete();
        return;
    case Builtin::OpcQuery:
        answer(QByteArrayLiteral("1"));
        return;
    case Builtin::SreQuery:
        answer(QByteArray::number(m_status.sre));
        return;
    case Builtin::StbQuery:
        answer(QByteArray::number(m_status.statusByte()));
        return;
    case Builtin::TstQuery:
        answer(QByteArrayLiteral("0"));
        return;
    case Builtin::ErrorNext:
        answer(ErrorQueue::written(m_status.queue().take()));
        return;
    case Builtin::ErrorCount:
        answer(QByteArray::number(qulonglong(m_status.queue().size())));
        return;
    case Builtin::VersionQuery:
        answer(QByteArrayLiteral("1999.0"));
        return;
    case Builtin::Wai:
    case Builtin::None:
    case Builtin::Rst:
    case Builtin::Ese:
    case Builtin::Sre:
        return;
    }
}

// Values back to their initial (walks, counters and sequences start again), then the
// profile's *RST command, then the script's on_reset().
bool Engine::reset(const Path &path, const ProgramUnit &unit, Outcome *outcome)
{
    if (!wantsNoParameter(unit, m_status))
        return true;
    m_values.reset();
    HeaderPattern::Suffixes suffixes;
    for (size_t i = 0; i < m_table.commands.size(); ++i) {
        const HeaderPattern &header = m_table.commands[i].header;
        if (header.isCommon() && !header.isQuery() && header.matches(path, &suffixes)
            && !runCommand(i, unit, suffixes, outcome))
            return false;
    }
    if (!m_script || !m_script->hasGlobal("on_reset"))
        return true;
    ScriptValue ignored;
    QString error;
    if (m_script->call(QStringLiteral("on_reset"), {}, &ignored, &error))
        return true;
    fail(-300, "Device-specific error");
    outcome->failure = error;
    outcome->where = QStringLiteral("on_reset");
    outcome->failedKey = kFailedCommandKey + 1;
    return false;
}

} // namespace Profile::Scpi
