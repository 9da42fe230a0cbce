#include "profile/behaviourfields.h"

namespace Profile {

namespace {
constexpr qint64 kNsPerMs = 1'000'000;
constexpr qint64 kLongestMs = 3'600'000;
constexpr int kLongestAnswer = 1 << 20;

void readFault(TomlFields &fields, const toml::table &owner, FaultKind kind, FaultSetting *setting)
{
    const QString name = faultName(kind);
    const std::string key = name.toStdString();
    const toml::table *table = fields.table(owner, key.c_str());
    if (!table)
        return;
    std::vector<const char *> keys = { "every", "probability", "enabled" };
    if (kind == FaultKind::Truncate)
        keys.push_back("keep");
    else if (kind == FaultKind::Corrupt)
        keys.push_back("bytes");
    else if (kind == FaultKind::Garbage)
        keys.push_back("length");
    fields.allowKeys(*table, keys);

    FaultSetting fault;
    fault.configured = true;
    if (table->contains("every") == table->contains("probability")) {
        fields.fail(*table,
            table->contains("every") ? QStringLiteral("every and probability exclude each other")
                                     : QStringLiteral("%1 needs every or probability").arg(name));
    }
    fault.every = int(fields.integer(*table, "every", 1, 1'000'000'000).value_or(0));
    fault.probability = fields.number(*table, "probability", 0, 1).value_or(0);
    fault.enabled = fields.flag(*table, "enabled").value_or(true);
    fault.keep = int(fields.integer(*table, "keep", 0, kLongestAnswer).value_or(-1));
    fault.bytes = int(fields.integer(*table, "bytes", 1, kLongestAnswer).value_or(1));
    if (const auto length = fields.integerRange(*table, "length", 0, kLongestAnswer)) {
        fault.minLength = int(length->first);
        fault.maxLength = int(length->second);
    }
    *setting = fault;
}
} // namespace

const std::vector<const char *> kBehaviourKeys
    = { "delay_ms", "drop", "truncate", "corrupt", "duplicate", "garbage", "pace", "char_gap_ms" };

void readBehaviour(TomlFields &fields, const toml::table &table, Behaviour *behaviour)
{
    if (const auto delay = fields.integerRange(table, "delay_ms", 0, kLongestMs)) {
        behaviour->minDelayNs = delay->first * kNsPerMs;
        behaviour->maxDelayNs = delay->second * kNsPerMs;
    }
    for (int k = 0; k < kFaultKinds; ++k)
        readFault(fields, table, FaultKind(k), &behaviour->faults[size_t(k)]);

    if (table.contains("pace") && table.contains("char_gap_ms")) {
        fields.fail(table, QStringLiteral("pace and char_gap_ms exclude each other"));
        return;
    }
    if (const std::optional<QString> pace = fields.text(table, "pace")) {
        if (*pace == QLatin1String("baud"))
            behaviour->pace = Pace::Baud;
        else if (*pace == QLatin1String("none"))
            behaviour->pace = Pace::None;
        else
            fields.fail(*table.get("pace"), QStringLiteral("'pace' must be \"baud\" or \"none\""));
    }
    if (const std::optional<double> gap = fields.number(table, "char_gap_ms", 0, kLongestMs)) {
        behaviour->pace = Pace::CharGap;
        behaviour->charGapNs = qint64(*gap * double(kNsPerMs));
    }
}

} // namespace Profile
