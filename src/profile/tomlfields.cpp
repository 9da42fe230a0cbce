#include "profile/tomlfields.h"

#include <algorithm>
#include <cmath>

namespace Profile {

namespace {
// A reason quotes the file, which may hold line breaks in a string: written as escapes, every
// problem stays on a line of its own.
QString oneLine(const QString &reason)
{
    QString line;
    for (const QChar c : reason) {
        if (c.unicode() >= 0x20 && c.unicode() != 0x7F)
            line += c;
        else
            line += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    }
    return line;
}
} // namespace

void TomlFields::fail(const toml::source_region &where, const QString &reason)
{
    m_problems.push_back(Problem { where.begin.line, where.begin.column,
        QStringLiteral("%1:%2:%3: %4")
            .arg(m_source)
            .arg(where.begin.line)
            .arg(where.begin.column)
            .arg(oneLine(reason)) });
}

void TomlFields::failIn(const QString &file, quint32 line, quint32 column, const QString &reason)
{
    m_problems.push_back(Problem { std::numeric_limits<quint32>::max(), line,
        QStringLiteral("%1:%2:%3: %4").arg(file).arg(line).arg(column).arg(oneLine(reason)) });
}

QString TomlFields::report() const
{
    std::vector<Problem> sorted = m_problems;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Problem &a, const Problem &b) {
        return std::tie(a.line, a.column) < std::tie(b.line, b.column);
    });
    QStringList lines;
    for (const Problem &problem : sorted)
        lines << problem.text;
    return lines.join(QLatin1Char('\n'));
}

void TomlFields::allowKeys(const toml::table &table, const std::vector<const char *> &allowed)
{
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        const std::string_view key = it->first.str();
        const bool known = std::any_of(
            allowed.begin(), allowed.end(), [key](const char *name) { return key == name; });
        if (!known)
            fail(it->first.source(),
                QStringLiteral("unknown key '%1'").arg(QString::fromStdString(std::string(key))));
    }
}

std::optional<double> TomlFields::numberOf(const toml::node &node)
{
    if (const auto *i = node.as_integer())
        return double(i->get());
    if (const auto *f = node.as_floating_point())
        return f->get();
    return std::nullopt;
}

template <typename T>
const auto *TomlFields::typed(const toml::table &table, const char *key, const char *what)
{
    const toml::node *node = table.get(key);
    const auto *value = node ? node->as<T>() : nullptr;
    if (node && !value)
        fail(*node, QStringLiteral("'%1' must be %2").arg(QLatin1String(key), QLatin1String(what)));
    return value;
}

std::optional<QString> TomlFields::text(const toml::table &table, const char *key)
{
    if (const auto *s = typed<std::string>(table, key, "a string"))
        return QString::fromStdString(s->get());
    return std::nullopt;
}

std::optional<qint64> TomlFields::integer(
    const toml::table &table, const char *key, qint64 min, qint64 max)
{
    const toml::node *node = table.get(key);
    if (!node)
        return std::nullopt;
    const auto *i = node->as_integer();
    if (i && i->get() >= min && i->get() <= max)
        return i->get();
    if (max == std::numeric_limits<qint64>::max())
        fail(*node,
            QStringLiteral("'%1' must be a whole number from %2").arg(QLatin1String(key)).arg(min));
    else
        fail(*node,
            QStringLiteral("'%1' must be a whole number from %2 to %3")
                .arg(QLatin1String(key))
                .arg(min)
                .arg(max));
    return std::nullopt;
}

std::optional<double> TomlFields::number(
    const toml::table &table, const char *key, double min, double max)
{
    const toml::node *node = table.get(key);
    if (!node)
        return std::nullopt;
    const std::optional<double> value = numberOf(*node);
    // inf and nan are TOML numbers, but no reading, step or bound can be made of them.
    if (value && !std::isfinite(*value)) {
        fail(*node, QStringLiteral("'%1' must be a finite number").arg(QLatin1String(key)));
        return std::nullopt;
    }
    if (value && *value >= min && *value <= max)
        return value;
    QString range;
    if (min > -kNoLimit && max < kNoLimit)
        range = QStringLiteral(" from %1 to %2").arg(min).arg(max);
    else if (min > -kNoLimit)
        range = QStringLiteral(" from %1").arg(min);
    fail(*node, QStringLiteral("'%1' must be a number%2").arg(QLatin1String(key), range));
    return std::nullopt;
}

std::optional<bool> TomlFields::flag(const toml::table &table, const char *key)
{
    if (const auto *b = typed<bool>(table, key, "true or false"))
        return b->get();
    return std::nullopt;
}

std::optional<std::pair<qint64, qint64>> TomlFields::integerRange(
    const toml::table &table, const char *key, qint64 min, qint64 max)
{
    const toml::node *node = table.get(key);
    if (!node)
        return std::nullopt;
    const auto inRange = [&](const toml::node *n) {
        const auto *i = n ? n->as_integer() : nullptr;
        return i && i->get() >= min && i->get() <= max;
    };
    if (inRange(node))
        return std::pair(node->as_integer()->get(), node->as_integer()->get());
    const auto *array = node->as_array();
    if (array && array->size() == 2 && inRange(array->get(0)) && inRange(array->get(1))) {
        const qint64 low = array->get(0)->as_integer()->get();
        const qint64 high = array->get(1)->as_integer()->get();
        if (low <= high)
            return std::pair(low, high);
    }
    fail(*node,
        QStringLiteral("'%1' must be a whole number from %2 to %3, or [low, high] of such")
            .arg(QLatin1String(key))
            .arg(min)
            .arg(max));
    return std::nullopt;
}

const toml::table *TomlFields::table(const toml::table &table, const char *key)
{
    return typed<toml::table>(table, key, "a table");
}

} // namespace Profile
