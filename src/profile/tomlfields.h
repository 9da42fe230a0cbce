#pragma once

#include <QString>
#include <QStringList>

#include <toml++/toml.h>

#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace Profile {

// Reads a parsed TOML document strictly and gathers every problem as "FILE:LINE:COL: reason",
// at the key or value concerned. A reader of one key gives nothing when the key is absent;
// when it is present with the wrong type or out of range, it reports that and gives nothing
// too, so the caller goes on and the next problem is found in the same pass.
class TomlFields
{
public:
    static constexpr double kNoLimit = std::numeric_limits<double>::infinity();

    explicit TomlFields(const QString &source)
        : m_source(source)
    { }

    void fail(const toml::source_region &where, const QString &reason);
    void fail(const toml::node &node, const QString &reason) { fail(node.source(), reason); }
    // A problem in another file (a script beside the profile), reported after the profile's.
    void failIn(const QString &file, quint32 line, quint32 column, const QString &reason);
    bool failed() const { return !m_problems.empty(); }
    // The problems in file order, one a line.
    QString report() const;

    // Every key of the table outside allowed is reported at the key: a typo must not pass.
    void allowKeys(const toml::table &table, const std::vector<const char *> &allowed);

    std::optional<QString> text(const toml::table &table, const char *key);
    std::optional<qint64> integer(
        const toml::table &table, const char *key, qint64 min, qint64 max);
    std::optional<double> number(
        const toml::table &table, const char *key, double min = -kNoLimit, double max = kNoLimit);
    std::optional<bool> flag(const toml::table &table, const char *key);
    // A whole number, or [low, high] of whole numbers; one number n is [n, n].
    std::optional<std::pair<qint64, qint64>> integerRange(
        const toml::table &table, const char *key, qint64 min, qint64 max);
    const toml::table *table(const toml::table &table, const char *key);

    // A node's number, integer or float.
    static std::optional<double> numberOf(const toml::node &node);

private:
    // The key's node as a T; null when the key is absent, and reported as not being what.
    template <typename T>
    const auto *typed(const toml::table &table, const char *key, const char *what);

    struct Problem
    {
        quint32 line;
        quint32 column;
        QString text;
    };

    QString m_source;
    std::vector<Problem> m_problems;
};

} // namespace Profile
