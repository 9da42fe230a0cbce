#include "profile/modbus/mapfields.h"

#include <algorithm>

namespace Profile::Modbus {

namespace {

struct TableKey
{
    const char *key;
    Table table;
    bool registers;
    bool writable;
};

constexpr TableKey kTables[] = {
    { "coils", Table::Coils, false, true },
    { "discrete", Table::Discrete, false, false },
    { "holding", Table::Holding, true, true },
    { "input", Table::Input, true, false },
};

class MapReader
{
public:
    MapReader(TomlFields &fields, const TemplateReader &readTemplate)
        : m_fields(fields), m_readTemplate(readTemplate)
    { }

    void readTable(const toml::table &modbus, const TableKey &kind, MapTable *out)
    {
        const toml::node *node = modbus.get(kind.key);
        if (!node)
            return;
        const toml::array *entries = node->as_array();
        if (!entries || !entries->is_array_of_tables()) {
            m_fields.fail(*node, QStringLiteral("'%1' must be tables: write [[modbus.%1]]")
                                     .arg(QLatin1String(kind.key)));
            return;
        }
        std::vector<std::pair<MapEntry, const toml::table *>> read;
        for (const toml::node &element : *entries) {
            const toml::table &table = *element.as_table();
            if (std::optional<MapEntry> entry = readEntry(table, kind))
                read.emplace_back(std::move(*entry), &table);
        }
        std::stable_sort(read.begin(), read.end(),
            [](const auto &a, const auto &b) { return a.first.first < b.first.first; });
        for (size_t i = 1; i < read.size(); ++i) {
            if (read[i].first.first <= read[i - 1].first.last)
                m_fields.fail(*read[i].second->get("at"),
                    QStringLiteral("address %1 of modbus.%2 is mapped twice")
                        .arg(read[i].first.first)
                        .arg(QLatin1String(kind.key)));
        }
        for (auto &[entry, table] : read)
            out->entries.push_back(std::move(entry));
    }

private:
    std::optional<MapEntry> readEntry(const toml::table &table, const TableKey &kind)
    {
        std::vector<const char *> keys = { "at", "value" };
        if (kind.registers)
            keys.insert(keys.end(), { "type", "word_order" });
        if (kind.writable)
            keys.push_back("writable");
        m_fields.allowKeys(table, keys);
        MapEntry entry;
        if (kind.registers)
            readType(table, &entry);
        entry.writable = m_fields.flag(table, "writable").value_or(false);
        readValue(table, &entry);
        if (!table.contains("at")) {
            m_fields.fail(table, QStringLiteral("a map entry needs at"));
            return std::nullopt;
        }
        const std::optional<std::pair<qint64, qint64>> at = m_fields.integerRange(table, "at", 0, 0xFFFF);
        if (!at)
            return std::nullopt;
        const int width = wordsOf(entry.type);
        qint64 last = at->second;
        // One address names a value's first register; a range covers whole values.
        if (at->first == at->second)
            last = at->first + width - 1;
        if (last > 0xFFFF || (last - at->first + 1) % width != 0) {
            m_fields.fail(*table.get("at"),
                QStringLiteral("'at' must cover whole values of two registers each"));
            return std::nullopt;
        }
        entry.first = quint16(at->first);
        entry.last = quint16(last);
        return entry;
    }

    void readType(const toml::table &table, MapEntry *entry)
    {
        if (const std::optional<QString> type = m_fields.text(table, "type")) {
            if (const std::optional<RegisterType> known = registerType(*type))
                entry->type = *known;
            else
                m_fields.fail(*table.get("type"),
                    QStringLiteral("'type' must be \"u16\", \"i16\", \"u32\", \"i32\" or \"f32\""));
        }
        if (const std::optional<QString> order = m_fields.text(table, "word_order")) {
            if (*order == QLatin1String("low_first"))
                entry->order = WordOrder::LowFirst;
            else if (*order != QLatin1String("high_first"))
                m_fields.fail(*table.get("word_order"),
                    QStringLiteral("'word_order' must be \"high_first\" or \"low_first\""));
        }
    }

    void readValue(const toml::table &table, MapEntry *entry)
    {
        const toml::node *node = table.get("value");
        if (!node)
            return;
        if (node->is_string()) {
            entry->value = m_readTemplate(table, "value");
        } else if (const std::optional<double> number = TomlFields::numberOf(*node)) {
            entry->constant = *number;
        } else if (const auto *flag = node->as_boolean()) {
            entry->constant = flag->get() ? 1 : 0;
        } else {
            m_fields.fail(*node, QStringLiteral("'value' must be a template, a number or a truth"));
        }
    }

    TomlFields &m_fields;
    const TemplateReader &m_readTemplate;
};

} // namespace

void readModbus(TomlFields &fields, const toml::table &root, const TemplateReader &readTemplate,
                Instrument *instrument)
{
    const toml::table *modbus = fields.table(root, "modbus");
    if (!modbus)
        return;
    fields.allowKeys(*modbus, { "address", "coils", "discrete", "holding", "input" });
    Map map;
    map.address = quint8(fields.integer(*modbus, "address", 1, 247).value_or(1));
    MapReader reader(fields, readTemplate);
    for (const TableKey &kind : kTables)
        reader.readTable(*modbus, kind, &map.table(kind.table));
    if (root.contains("framing"))
        fields.fail(*root.get("framing"),
            QStringLiteral("[framing] does not go with [modbus]: its requests end by their function codes"));
    for (const ValueDef &value : instrument->values) {
        // The expressions of the map see the register address as the global addr.
        if (value.name == QLatin1String("addr"))
            fields.fail(*modbus, QStringLiteral("value name 'addr' would hide the address in [modbus]"));
    }
    instrument->framing.mode = Framing::Mode::ModbusRtu;
    instrument->modbus = std::move(map);
}

} // namespace Profile::Modbus
