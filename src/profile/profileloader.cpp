#include "profile/profileloader.h"

#include "platform/regularfile.h"
#include "profile/behaviourfields.h"
#include "profile/tomlfields.h"
#include "profile/valuefields.h"
#include "text/notation.h"

#include <QSet>

namespace Profile {

namespace {

constexpr qint64 kNsPerMs = 1'000'000;
constexpr qint64 kLongestMs = 3'600'000;
constexpr int kUnknownCaptures = 9999;

class ProfileReader
{
public:
    ProfileReader(TomlFields &fields, Instrument &instrument)
        : m_fields(fields)
        , m_instrument(instrument)
    { }

    void read(const toml::table &root)
    {
        m_fields.allowKeys(root, { "seed", "framing", "values", "rule", "faults", "continuous" });
        if (const std::optional<qint64> seed
            = m_fields.integer(root, "seed", 0, std::numeric_limits<qint64>::max()))
            m_instrument.seed = quint64(*seed);
        if (const toml::table *framing = m_fields.table(root, "framing"))
            readFraming(*framing);
        if (const toml::table *values = m_fields.table(root, "values"))
            m_instrument.values = readValues(m_fields, *values);
        if (const toml::table *faults = m_fields.table(root, "faults")) {
            m_fields.allowKeys(*faults, kBehaviourKeys);
            readBehaviour(m_fields, *faults, &m_instrument.defaults);
        }
        readRules(root);
        if (const toml::table *continuous = m_fields.table(root, "continuous"))
            readContinuous(*continuous);
    }

private:
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
        std::optional<AnswerTemplate> parsed = AnswerTemplate::parse(
            *text, [this](QStringView name) { return valueIndex(name); }, captureCount, &error);
        if (!parsed)
            m_fields.fail(*table.get(key), error);
        return parsed;
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
        std::vector<const char *> keys = { "name", "match", "regex", "answer", "set" };
        keys.insert(keys.end(), kBehaviourKeys.begin(), kBehaviourKeys.end());
        m_fields.allowKeys(table, keys);
        Rule rule;
        rule.name = m_fields.text(table, "name").value_or(QStringLiteral("rule %1").arg(number));
        if (rule.name.isEmpty())
            m_fields.fail(*table.get("name"), QStringLiteral("'name' is empty"));
        int captureCount = 0;
        if (table.contains("match") == table.contains("regex")) {
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
        rule.answer = readTemplate(table, "answer", captureCount);
        if (const toml::table *sets = m_fields.table(table, "set"))
            readSets(*sets, captureCount, &rule);
        rule.behaviour = m_instrument.defaults;
        readBehaviour(m_fields, table, &rule.behaviour);
        return rule;
    }

    void readSets(const toml::table &sets, int captureCount, Rule *rule)
    {
        for (auto &&[key, node] : sets) {
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
                rule->sets.emplace_back(index, std::move(*text));
        }
    }

    void readContinuous(const toml::table &table)
    {
        m_fields.allowKeys(table, { "text" });
        if (!table.contains("text"))
            m_fields.fail(table, QStringLiteral("[continuous] needs text"));
        m_instrument.continuous = readTemplate(table, "text", -1);
    }

    TomlFields &m_fields;
    Instrument &m_instrument;
};

} // namespace

std::optional<Instrument> loadProfileText(
    const QByteArray &text, const QString &name, QString *error)
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
    ProfileReader(fields, instrument).read(root);
    if (fields.failed()) {
        *error = fields.report();
        return std::nullopt;
    }
    return instrument;
}

std::optional<Instrument> loadProfileFile(const QString &path, QString *error)
{
    QByteArray text;
    QString problem;
    if (!RegularFile::read(path, kMaxProfileBytes, &text, &problem)) {
        *error = QStringLiteral("%1: %2").arg(path, problem);
        return std::nullopt;
    }
    return loadProfileText(text, path, error);
}

} // namespace Profile
