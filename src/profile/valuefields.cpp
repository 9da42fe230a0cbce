#include "profile/valuefields.h"

#include "profile/checksums.h"
#include "profile/script/luahelpers.h"
#include "text/notation.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace Profile {

namespace {

const char *const kKinds[] = { "random", "walk", "sequence", "counter", "clock", "initial" };

// Values are held as doubles: beyond this every whole number is no longer one of them, so a
// draw or a count there would not be the number the answer shows.
constexpr double kExactWhole = 9007199254740992.0; // 2^53

bool exact(double number)
{
    return std::isfinite(number) && std::fabs(number) < kExactWhole;
}

} // namespace

QString checkValueName(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("a value needs a name");
    for (const QChar c : name) {
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != QLatin1Char('_')
            && c != QLatin1Char('-'))
            return QStringLiteral("value name '%1' may hold only A-Z a-z 0-9 _ -").arg(name);
    }
    bool number = false;
    name.toUInt(&number);
    if (number)
        return QStringLiteral("value name '%1' would read as a capture").arg(name);
    static const char *const placeholders[]
        = { "time", "date", "utc_time", "utc_date", "check_start", "check_end" };
    if (checksumKind(name)
        || std::any_of(std::begin(placeholders), std::end(placeholders),
            [&](const char *p) { return name == QLatin1String(p); }))
        return QStringLiteral("value name '%1' is a built-in placeholder").arg(name);
    // Values are globals of the profile's Lua: a keyword cannot be one, and a library's or a
    // helper's name would hide it.
    static const char *const lua[] = { "and", "break", "do", "else", "elseif", "end", "false",
        "for", "function", "goto", "if", "in", "local", "nil", "not", "or", "repeat", "return",
        "then", "true", "until", "while", "string", "table", "math", "utf8", "coroutine", "io",
        "os", "debug", "package", "_G", "_ENV", "_VERSION", "assert", "error", "ipairs", "next",
        "pairs", "pcall", "xpcall", "rawequal", "rawget", "rawlen", "rawset", "select",
        "getmetatable", "setmetatable", "tonumber", "tostring", "type", "require", "cap",
        "frame", "arg", "load", "print" };
    const auto named = [&](const char *word) { return name == QLatin1String(word); };
    if (std::any_of(std::begin(lua), std::end(lua), named))
        return QStringLiteral("value name '%1' is a word of Lua").arg(name);
    for (const char *const *helper = helperNames(); *helper; ++helper) {
        if (named(*helper))
            return QStringLiteral("value name '%1' would hide the helper %1()").arg(name);
    }
    return {};
}

namespace {

void readRandom(TomlFields &fields, const toml::node &node, ValueDef *value)
{
    const auto *array = node.as_array();
    const auto low
        = array && array->size() == 2 ? TomlFields::numberOf(*array->get(0)) : std::nullopt;
    const auto high
        = array && array->size() == 2 ? TomlFields::numberOf(*array->get(1)) : std::nullopt;
    if (!low || !high || !(*low <= *high)) {
        fields.fail(node, QStringLiteral("'random' must be [low, high] with low <= high"));
        return;
    }
    if (!exact(*low) || !exact(*high)) {
        fields.fail(node, QStringLiteral("'random' bounds must lie between -2^53 and 2^53"));
        return;
    }
    value->low = *low;
    value->high = *high;
    // Whole bounds draw whole numbers, both ends included.
    value->whole = array->get(0)->is_integer() && array->get(1)->is_integer();
}

void readWalk(TomlFields &fields, const toml::table &walk, ValueDef *value)
{
    fields.allowKeys(walk, { "start", "step", "min", "max" });
    if (!walk.contains("start") || !walk.contains("step"))
        fields.fail(walk, QStringLiteral("walk needs start and step"));
    value->start = fields.number(walk, "start").value_or(0);
    value->step = fields.number(walk, "step", 0).value_or(0);
    value->low = fields.number(walk, "min").value_or(-TomlFields::kNoLimit);
    value->high = fields.number(walk, "max").value_or(TomlFields::kNoLimit);
    if (value->start < value->low || value->start > value->high)
        fields.fail(walk, QStringLiteral("walk: start lies outside [min, max]"));
}

void readCounter(TomlFields &fields, const toml::table &counter, ValueDef *value)
{
    fields.allowKeys(counter, { "start", "step", "max" });
    value->start = fields.number(counter, "start").value_or(0);
    value->step = fields.number(counter, "step").value_or(1);
    value->limit = fields.number(counter, "max");
    const double far = value->limit ? *value->limit : value->start;
    if (!exact(value->start) || !exact(value->step) || !exact(far)) {
        fields.fail(counter, QStringLiteral("counter: start, step and max must lie between "
                                            "-2^53 and 2^53"));
    } else if (value->step != 0
               && (value->start + value->step == value->start || far + value->step == far)) {
        // A step lost in the rounding of its start or max would leave the counter standing.
        fields.fail(counter, QStringLiteral("counter: step is too small to change start or max"));
    }
}

void readSequence(TomlFields &fields, const toml::node &node, ValueDef *value)
{
    const auto *array = node.as_array();
    if (!array || array->empty()) {
        fields.fail(node, QStringLiteral("'sequence' must be a non-empty array"));
        return;
    }
    for (const toml::node &element : *array) {
        ValueItem item;
        if (const std::optional<double> number = TomlFields::numberOf(element)) {
            item.isNumber = true;
            item.number = *number;
        } else if (const auto *text = element.as_string()) {
            QString error;
            if (!appendNotation(QString::fromStdString(text->get()), &item.text, &error))
                fields.fail(element, error);
        } else {
            fields.fail(element, QStringLiteral("a sequence holds texts and numbers"));
        }
        value->items.push_back(std::move(item));
    }
}

void readKind(TomlFields &fields, const toml::table &table, const char *kind, ValueDef *value)
{
    const toml::node &node = *table.get(kind);
    const QString key = QLatin1String(kind);
    if (key == QLatin1String("random")) {
        value->kind = ValueKind::Random;
        readRandom(fields, node, value);
    } else if (key == QLatin1String("walk")) {
        value->kind = ValueKind::Walk;
        if (const toml::table *walk = fields.table(table, kind))
            readWalk(fields, *walk, value);
    } else if (key == QLatin1String("counter")) {
        value->kind = ValueKind::Counter;
        if (const toml::table *counter = fields.table(table, kind))
            readCounter(fields, *counter, value);
    } else if (key == QLatin1String("sequence")) {
        value->kind = ValueKind::Sequence;
        readSequence(fields, node, value);
    } else if (key == QLatin1String("clock")) {
        value->kind = ValueKind::Clock;
        QString error;
        const std::optional<QString> format = fields.text(table, kind);
        std::optional<ClockFormat> clock
            = format ? ClockFormat::parse(*format, &error) : std::nullopt;
        if (clock)
            value->clock = *clock;
        else if (format)
            fields.fail(node, error);
    } else {
        value->kind = ValueKind::Stored;
        // A number stays a number; a text is bytes.
        if (const std::optional<double> number = TomlFields::numberOf(node)) {
            value->initialIsNumber = true;
            value->initialNumber = *number;
            return;
        }
        QString error;
        const std::optional<QString> initial = fields.text(table, kind);
        if (initial && !appendNotation(*initial, &value->initial, &error))
            fields.fail(node, error);
    }
}

ValueDef readValue(TomlFields &fields, const QString &name, const toml::table &table)
{
    ValueDef value;
    value.name = name;
    fields.allowKeys(
        table, { "random", "walk", "sequence", "counter", "clock", "initial", "format", "utc" });
    const char *kind = nullptr;
    for (const char *candidate : kKinds) {
        if (!table.contains(candidate))
            continue;
        if (kind) {
            fields.fail(table,
                QStringLiteral("value '%1' has both %2 and %3")
                    .arg(name, QLatin1String(kind), QLatin1String(candidate)));
            return value;
        }
        kind = candidate;
    }
    if (!kind) {
        fields.fail(table,
            QStringLiteral("value '%1' needs one of random, walk, sequence, "
                           "counter, clock, initial")
                .arg(name));
        return value;
    }
    readKind(fields, table, kind, &value);
    if (const std::optional<bool> utc = fields.flag(table, "utc")) {
        if (value.kind == ValueKind::Clock)
            value.utc = *utc;
        else
            fields.fail(*table.get("utc"), QStringLiteral("only a clock value takes 'utc'"));
    }
    if (const std::optional<QString> format = fields.text(table, "format")) {
        QString error;
        if (value.kind == ValueKind::Clock)
            fields.fail(*table.get("format"),
                QStringLiteral("a clock value has its format in "
                               "'clock'"));
        else if (std::optional<NumberFormat> parsed = NumberFormat::parse(*format, &error))
            value.format = *parsed;
        else
            fields.fail(*table.get("format"), error);
    }
    return value;
}

} // namespace

std::vector<ValueDef> readValues(TomlFields &fields, const toml::table &values)
{
    std::vector<ValueDef> defs;
    for (auto &&[key, node] : values) {
        const QString name = QString::fromStdString(std::string(key.str()));
        const QString nameProblem = checkValueName(name);
        if (!nameProblem.isEmpty())
            fields.fail(key.source(), nameProblem);
        if (const toml::table *table = node.as_table())
            defs.push_back(readValue(fields, name, *table));
        else
            fields.fail(node, QStringLiteral("value '%1' must be a table: [values.%1]").arg(name));
    }
    return defs;
}

} // namespace Profile
