#include "profile/profileloader.h"

#include "platform/regularfile.h"
#include "profile/behaviourfields.h"
#include "profile/modbus/mapfields.h"
#include "profile/scpi/scpireader.h"
#include "profile/script/luastate.h"
#include "profile/tomlfields.h"
#include "profile/valuefields.h"
#include "text/notation.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace Profile {

namespace {

constexpr qint64 kNsPerMs = 1'000'000;
constexpr qint64 kLongestMs = 3'600'000;
constexpr int kUnknownCaptures = 9999;
constexpr qint64 kMaxScriptBytes = qint64(4) << 20;

// A key's place in the file, to take a table's keys in the order they were written.
bool writtenBefore(const toml::key &a, const toml::key &b)
{
    return std::tie(a.source().begin.line, a.source().begin.column)
        < std::tie(b.source().begin.line, b.source().begin.column);
}

// Lua's "LINE: reason" as the line and the reason.
std::pair<quint32, QString> luaProblem(const QString &message, quint32 fallbackLine)
{
    const qsizetype colon = message.indexOf(QLatin1Char(':'));
    bool number = false;
    const uint line = colon > 0 ? message.left(colon).toUInt(&number) : 0;
    if (!number)
        return { fallbackLine, message };
    return { quint32(line), message.mid(colon + 1).trimmed() };
}

class ProfileReader
{
public:
    ProfileReader(TomlFields &fields, Instrument &instrument, const std::atomic<bool> *abandoned)
        : m_fields(fields)
        , m_instrument(instrument)
        , m_abandoned(abandoned)
    { }

    bool abandoned() const { return m_abandoned && m_abandoned->load(std::memory_order_relaxed); }

    void read(const toml::table &root)
    {
        m_fields.allowKeys(root,
            { "seed", "script", "line", "framing", "values", "rule", "faults", "continuous",
              "modbus", "scpi" });
        m_instrument.expressionChunk = QFileInfo(m_instrument.source).fileName();
        if (const std::optional<QString> script = m_fields.text(root, "script"))
            readScript(*root.get("script"), *script);
        if (const toml::table *line = m_fields.table(root, "line"))
            readLine(*line);
        if (const std::optional<qint64> seed
            = m_fields.integer(root, "seed", 0, std::numeric_limits<qint64>::max()))
            m_instrument.seed = quint64(*seed);
        if (const toml::table *framing = m_fields.table(root, "framing"))
            readFraming(*framing);
        if (const toml::table *values = m_fields.table(root, "values"))
            m_instrument.values = readValues(m_fields, *values);
        if (const toml::table *scpi = m_fields.table(root, "scpi"))
            readScpiTable(*scpi);
        if (const toml::table *faults = m_fields.table(root, "faults")) {
            m_fields.allowKeys(*faults, kBehaviourKeys);
            readBehaviour(m_fields, *faults, &m_instrument.defaults);
        }
        readRules(root);
        Modbus::readModbus(m_fields, root,
            [this](const toml::table &table, const char *key) { return readTemplate(table, key, -1); },
            &m_instrument);
        if (const toml::table *continuous = m_fields.table(root, "continuous"))
            readContinuous(*continuous);
    }

private:
    void readScript(const toml::node &node, const QString &name)
    {
        const QString path = QDir(m_instrument.folder).filePath(name);
        QString problem;
        if (!RegularFile::read(path, kMaxScriptBytes, &m_instrument.script, &problem)) {
            m_fields.fail(node, QStringLiteral("script \"%1\": %2").arg(name, problem));
            return;
        }
        m_instrument.scriptName = QFileInfo(name).fileName();
        if (const std::optional<QString> error = LuaState::syntaxError(m_instrument.script, 1)) {
            const auto [line, reason] = luaProblem(*error, 1);
            m_fields.failIn(name, line, 1, reason);
        }
    }

    void readFlow(const toml::table &table)
    {
        if (const std::optional<QString> flow = m_fields.text(table, "flow")) {
            if (*flow == QLatin1String("xonxoff"))
                m_instrument.flow = LineFlow::XonXoff;
            else if (*flow == QLatin1String("rtscts"))
                m_instrument.flow = LineFlow::RtsCts;
            else if (*flow != QLatin1String("none"))
                m_fields.fail(*table.get("flow"),
                              QStringLiteral("'flow' must be \"none\", \"xonxoff\" or \"rtscts\""));
        }
        m_instrument.receiveBuffer = int(m_fields.integer(table, "buffer", 1, 1 << 20).value_or(0));
    }

    void readLine(const toml::table &table)
    {
        m_fields.allowKeys(table, { "speed", "data_bits", "parity", "stop_bits", "pace", "cts",
                                    "dsr", "dcd", "ri", "flow", "buffer" });
        const struct {
            const char *key;
            bool &line;
        } lines[] = { { "cts", m_instrument.lines.cts }, { "dsr", m_instrument.lines.dsr },
                      { "dcd", m_instrument.lines.dcd }, { "ri", m_instrument.lines.ri } };
        for (const auto &line : lines) {
            if (const std::optional<bool> up = m_fields.flag(table, line.key))
                line.line = *up;
        }
        if (const std::optional<QString> pace = m_fields.text(table, "pace")) {
            if (*pace == QLatin1String("none"))
                m_instrument.linePaced = false;
            else if (*pace != QLatin1String("line"))
                m_fields.fail(*table.get("pace"), QStringLiteral("'pace' must be \"line\" or \"none\""));
        }
        readFlow(table);
        // Pacing, flow and lines alone keep the settings' port settings.
        if (!table.contains("speed") && !table.contains("data_bits") && !table.contains("parity")
            && !table.contains("stop_bits"))
            return;
        const qint64 speed = m_fields.integer(table, "speed", 50, 4'000'000).value_or(0);
        if (!table.contains("speed"))
            m_fields.fail(table, QStringLiteral("[line] needs speed"));
        const qint64 bits = m_fields.integer(table, "data_bits", 5, 8).value_or(8);
        QString parity = m_fields.text(table, "parity").value_or(QStringLiteral("N"));
        if (parity != QLatin1String("N") && parity != QLatin1String("E")
            && parity != QLatin1String("O")) {
            m_fields.fail(*table.get("parity"), QStringLiteral("'parity' must be \"N\", \"E\" or \"O\""));
            parity = QStringLiteral("N");
        }
        QString stop = QStringLiteral("1");
        if (const std::optional<double> stopBits = m_fields.number(table, "stop_bits")) {
            if (*stopBits == 1.0 || *stopBits == 1.5 || *stopBits == 2.0)
                stop = QString::number(*stopBits);
            else
                m_fields.fail(*table.get("stop_bits"), QStringLiteral("'stop_bits' must be 1, 1.5 or 2"));
        }
        if (speed > 0)
            m_instrument.line = QStringLiteral("%1,%2,%3,%4").arg(speed).arg(parity).arg(bits).arg(stop);
    }

    // A Lua expression of the file: checked for syntax now, compiled for each run.
    int addExpression(const toml::node &node, const QString &code, int lineOffset, QString *error)
    {
        const int line = int(node.source().begin.line) + lineOffset;
        const QByteArray bytes = code.toUtf8();
        if (const std::optional<QString> problem
            = LuaState::syntaxError("return (" + bytes + "\n)", line)) {
            auto [at, reason] = luaProblem(*problem, quint32(line));
            // The parenthesis the expression is wrapped in closes on a line of its own.
            at = std::min(at, quint32(line + int(bytes.count('\n'))));
            // Reported here at its own line; the caller adds nothing more.
            m_fields.failIn(m_instrument.source, at, 1, reason);
            *error = QString();
            return -1;
        }
        m_instrument.expressions.push_back(Expression { bytes, line });
        return int(m_instrument.expressions.size()) - 1;
    }

    void readFraming(const toml::table &table)
    {
        m_fields.allowKeys(
            table, { "by", "terminator", "gap_ms", "length", "window_ms", "max_bytes" });
        Framing &framing = m_instrument.framing;
        framing.maxBytes = int(m_fields.integer(table, "max_bytes", 1, 1 << 20).value_or(4096));
        const std::optional<qint64> gap = m_fields.integer(table, "gap_ms", 1, kLongestMs);
        const std::optional<qint64> length = m_fields.integer(table, "length", 1, 1 << 20);
        const std::optional<qint64> window = m_fields.integer(table, "window_ms", 1, kLongestMs);
        std::optional<QByteArray> terminator;
        if (const std::optional<QString> text = m_fields.text(table, "terminator")) {
            QByteArray bytes;
            QString error;
            if (!appendNotation(*text, &bytes, &error))
                m_fields.fail(*table.get("terminator"), error);
            else if (bytes.isEmpty())
                m_fields.fail(*table.get("terminator"), QStringLiteral("'terminator' is empty"));
            else
                terminator = bytes;
        }
        const std::optional<QString> by = m_fields.text(table, "by");
        const bool byRules = by == QLatin1String("rules");
        if (by && !byRules)
            m_fields.fail(*table.get("by"), QStringLiteral("'by' must be \"rules\""));
        const int kinds = int(table.contains("terminator")) + int(table.contains("length"))
            + int(table.contains("window_ms"));
        if (table.contains("by") && kinds > 0) {
            m_fields.fail(
                table, QStringLiteral("by does not go with terminator, length or window_ms"));
            return;
        }
        if (kinds > 1) {
            m_fields.fail(
                table, QStringLiteral("terminator, length and window_ms exclude each other"));
            return;
        }
        if (kinds == 0 && !table.contains("gap_ms") && !table.contains("by")) {
            m_fields.fail(
                table, QStringLiteral("[framing] needs terminator, gap_ms, length or window_ms"));
            return;
        }
        if (window && table.contains("gap_ms"))
            m_fields.fail(table, QStringLiteral("gap_ms does not go with window_ms"));
        if (length && *length > framing.maxBytes)
            m_fields.fail(*table.get("length"), QStringLiteral("'length' is above max_bytes"));
        if (terminator && terminator->size() > framing.maxBytes)
            m_fields.fail(*table.get("terminator"),
                          QStringLiteral("'terminator' is longer than max_bytes"));
        // The rules leave a command that could still grow to the silence: 100 ms when unsaid, a
        // few characters' time even at 300 baud.
        framing.gapNs = gap.value_or(byRules ? 100 : 0) * kNsPerMs;
        if (byRules) {
            framing.mode = Framing::Mode::Rules;
        } else if (terminator) {
            framing.mode = Framing::Mode::Terminator;
            framing.terminator = *terminator;
        } else if (length) {
            framing.mode = Framing::Mode::Length;
            framing.length = int(*length);
        } else if (window) {
            framing.mode = Framing::Mode::Window;
            framing.windowNs = *window * kNsPerMs;
        } else if (gap) {
            framing.mode = Framing::Mode::Gap;
        }
    }

    int valueIndex(QStringView name) const
    {
        for (size_t i = 0; i < m_instrument.values.size(); ++i) {
            if (m_instrument.values[i].name == name)
                return int(i);
        }
        return -1;
    }

    std::optional<AnswerTemplate> readTemplate(
        const toml::table &table, const char *key, int captureCount)
    {
        const std::optional<QString> text = m_fields.text(table, key);
        if (!text)
            return std::nullopt;
        QString error;
        const toml::node &node = *table.get(key);
        TemplateScope scope;
        scope.valueIndex = [this](QStringView name) { return valueIndex(name); };
        scope.captureCount = captureCount;
        scope.addExpression = [&](const QString &code, qsizetype at, QString *problem) {
            return addExpression(node, code, int(text->left(at).count(QLatin1Char('\n'))), problem);
        };
        std::optional<AnswerTemplate> parsed = AnswerTemplate::parse(*text, scope, &error);
        if (!parsed && !error.isEmpty())
            m_fields.fail(node, error);
        return parsed;
    }

    // Its properties join the values before any template is read: rules may name them too.
    void readScpiTable(const toml::table &table)
    {
        Scpi::ReaderContext context { m_instrument.values,
            [this](const toml::table &t, const char *key, int captures) {
                return readTemplate(t, key, captures);
            },
            [this](const toml::table &sets, int captures, Scpi::Sets *out) {
                readSets(sets, captures, out);
            } };
        m_instrument.scpi = Scpi::readScpi(m_fields, table, context);
    }

    void readRules(const toml::table &root)
    {
        const toml::node *node = root.get("rule");
        if (!node)
            return;
        const toml::array *rules = node->as_array();
        if (!rules || !rules->is_array_of_tables()) {
            m_fields.fail(*node, QStringLiteral("'rule' must be tables: write [[rule]]"));
            return;
        }
        QSet<QString> names;
        for (size_t i = 0; i < rules->size(); ++i) {
            // Rules are most of a large profile's reading: a stop need not wait for them all.
            if (i % 1024 == 0 && abandoned())
                return;
            const toml::table &table = *rules->get(i)->as_table();
            Rule rule = readRule(table, int(i) + 1);
            if (names.contains(rule.name))
                m_fields.fail(table.contains("name") ? *table.get("name") : table,
                    QStringLiteral("rule name '%1' is used twice").arg(rule.name));
            names.insert(rule.name);
            m_instrument.rules.push_back(std::move(rule));
        }
    }

    Rule readRule(const toml::table &table, int number)
    {
        std::vector<const char *> keys
            = { "name", "match", "regex", "when", "answer", "part", "set", "continuous", "lines",
                "break" };
        keys.insert(keys.end(), kBehaviourKeys.begin(), kBehaviourKeys.end());
        m_fields.allowKeys(table, keys);
        Rule rule;
        rule.name = m_fields.text(table, "name").value_or(QStringLiteral("rule %1").arg(number));
        if (rule.name.isEmpty())
            m_fields.fail(*table.get("name"), QStringLiteral("'name' is empty"));
        int captureCount = 0;
        rule.isBreak = m_fields.flag(table, "break").value_or(false);
        if (rule.isBreak) {
            if (table.contains("match") || table.contains("regex"))
                m_fields.fail(table, QStringLiteral("a rule for a break takes no match or regex"));
        } else if (table.contains("match") == table.contains("regex")) {
            m_fields.fail(table,
                table.contains("match") ? QStringLiteral("match and regex exclude each other")
                                        : QStringLiteral("a rule needs match or regex"));
        } else if (const std::optional<QString> match = m_fields.text(table, "match")) {
            QString error;
            if (!appendNotation(*match, &rule.exact, &error))
                m_fields.fail(*table.get("match"), error);
            else if (rule.exact.isEmpty())
                m_fields.fail(*table.get("match"), QStringLiteral("'match' is empty"));
        } else if (const std::optional<QString> pattern = m_fields.text(table, "regex")) {
            QString error;
            rule.regex = ByteRegex::compile(*pattern, &error);
            if (rule.regex) {
                captureCount = rule.regex->captureCount();
            } else {
                m_fields.fail(*table.get("regex"), error);
                // The captures of a regex that did not compile are unknown: no complaints
                // about them on top.
                captureCount = kUnknownCaptures;
            }
        }
        if (const std::optional<QString> when = m_fields.text(table, "when")) {
            QString error;
            rule.when = addExpression(*table.get("when"), *when, 0, &error);
        }
        rule.answer = readTemplate(table, "answer", captureCount);
        readParts(table, captureCount, &rule);
        if (const toml::table *sets = m_fields.table(table, "set"))
            readSets(*sets, captureCount, &rule.sets);
        if (const std::optional<QString> continuous = m_fields.text(table, "continuous")) {
            if (*continuous == QLatin1String("on") || *continuous == QLatin1String("off"))
                rule.continuous = *continuous == QLatin1String("on");
            else
                m_fields.fail(*table.get("continuous"),
                    QStringLiteral("'continuous' must be \"on\" or \"off\""));
        }
        if (const toml::table *lines = m_fields.table(table, "lines")) {
            m_fields.allowKeys(*lines, { "cts", "dsr", "dcd", "ri" });
            rule.lines.cts = m_fields.flag(*lines, "cts");
            rule.lines.dsr = m_fields.flag(*lines, "dsr");
            rule.lines.dcd = m_fields.flag(*lines, "dcd");
            rule.lines.ri = m_fields.flag(*lines, "ri");
        }
        rule.behaviour = m_instrument.defaults;
        readBehaviour(m_fields, table, &rule.behaviour);
        return rule;
    }

    void readParts(const toml::table &table, int captureCount, Rule *rule)
    {
        const toml::node *node = table.get("part");
        if (!node)
            return;
        const toml::array *parts = node->as_array();
        if (!parts || !parts->is_array_of_tables() || parts->empty()) {
            m_fields.fail(*node, QStringLiteral("'part' must be tables: write [[rule.part]]"));
            return;
        }
        if (table.contains("answer"))
            m_fields.fail(*node, QStringLiteral("answer and part exclude each other"));
        for (const toml::node &element : *parts) {
            const toml::table &part = *element.as_table();
            m_fields.allowKeys(part, { "text", "delay_ms" });
            if (!part.contains("text"))
                m_fields.fail(part, QStringLiteral("a part needs text"));
            std::optional<AnswerTemplate> text = readTemplate(part, "text", captureCount);
            AnswerPart answerPart;
            if (const auto delay = m_fields.integerRange(part, "delay_ms", 0, kLongestMs))
                answerPart.delayNs = std::make_pair(delay->first * kNsPerMs, delay->second * kNsPerMs);
            if (text) {
                answerPart.text = std::move(*text);
                rule->parts.push_back(std::move(answerPart));
            }
        }
    }

    void readSets(const toml::table &sets, int captureCount,
                  std::vector<std::pair<int, AnswerTemplate>> *out)
    {
        // In the order written: a later key reads what an earlier one stored.
        std::vector<std::pair<const toml::key *, const toml::node *>> ordered;
        for (auto &&[key, node] : sets)
            ordered.emplace_back(&key, &node);
        std::sort(ordered.begin(), ordered.end(),
            [](const auto &a, const auto &b) { return writtenBefore(*a.first, *b.first); });
        for (const auto &[keyPointer, nodePointer] : ordered) {
            const toml::key &key = *keyPointer;
            const QString name = QString::fromStdString(std::string(key.str()));
            const int index = valueIndex(name);
            if (index < 0) {
                m_fields.fail(key.source(), QStringLiteral("unknown value '%1'").arg(name));
                continue;
            }
            if (m_instrument.values[size_t(index)].kind != ValueKind::Stored) {
                m_fields.fail(key.source(),
                    QStringLiteral("value '%1' has no initial text and "
                                   "cannot be set")
                        .arg(name));
                continue;
            }
            if (std::optional<AnswerTemplate> text
                = readTemplate(sets, key.str().data(), captureCount))
                out->emplace_back(index, std::move(*text));
        }
    }

    void readContinuous(const toml::table &table)
    {
        m_fields.allowKeys(table, { "text", "interval", "enabled", "align" });
        if (!table.contains("text"))
            m_fields.fail(table, QStringLiteral("[continuous] needs text"));
        Continuous continuous;
        continuous.text = readTemplate(table, "text", -1);
        continuous.intervalSeconds = m_fields.number(table, "interval", 0.001, 86400.0);
        continuous.enabled = m_fields.flag(table, "enabled");
        if (const std::optional<QString> align = m_fields.text(table, "align")) {
            if (*align == QLatin1String("second"))
                continuous.alignSecond = true;
            else
                m_fields.fail(*table.get("align"), QStringLiteral("'align' must be \"second\""));
        }
        m_instrument.continuous = std::move(continuous);
    }

    TomlFields &m_fields;
    Instrument &m_instrument;
    const std::atomic<bool> *m_abandoned = nullptr;
};

} // namespace

std::optional<Instrument> loadProfileText(const QByteArray &text, const QString &name,
    QString *error, const std::atomic<bool> *abandoned)
{
    TomlFields fields(name);
    toml::table root;
    try {
        root = toml::parse(
            std::string_view(text.constData(), size_t(text.size())), name.toStdString());
    } catch (const toml::parse_error &parseError) {
        fields.fail(
            parseError.source(), QString::fromStdString(std::string(parseError.description())));
        *error = fields.report();
        return std::nullopt;
    }
    Instrument instrument;
    instrument.source = name;
    instrument.folder = QFileInfo(name).absolutePath();
    ProfileReader reader(fields, instrument, abandoned);
    reader.read(root);
    if (reader.abandoned()) {
        *error = QStringLiteral("%1: reading abandoned").arg(name);
        return std::nullopt;
    }
    if (fields.failed()) {
        *error = fields.report();
        return std::nullopt;
    }
    return instrument;
}

std::optional<Instrument> loadProfileFile(const QString &path, QString *error,
    const std::atomic<bool> *abandoned)
{
    QByteArray text;
    QString problem;
    if (!RegularFile::read(path, kMaxProfileBytes, &text, &problem)) {
        *error = QStringLiteral("%1: %2").arg(path, problem);
        return std::nullopt;
    }
    return loadProfileText(text, path, error, abandoned);
}

} // namespace Profile
