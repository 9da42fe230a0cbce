#include "profile/scpi/scpireader.h"

#include "profile/valuefields.h"

namespace Profile::Scpi {

namespace {

constexpr int kMaxParameters = 16;

int indexOf(const std::vector<ValueDef> &values, const QString &name)
{
    for (size_t i = 0; i < values.size(); ++i) {
        if (values[i].name == name)
            return int(i);
    }
    return -1;
}

std::optional<HeaderPattern> readHeader(TomlFields &fields, const toml::table &table)
{
    const std::optional<QString> text = fields.text(table, "header");
    if (!table.contains("header"))
        fields.fail(table, QStringLiteral("a SCPI property or command needs header"));
    if (!text)
        return std::nullopt;
    QString error;
    std::optional<HeaderPattern> pattern = HeaderPattern::parse(text->toUtf8(), &error);
    if (!pattern)
        fields.fail(*table.get("header"), error);
    return pattern;
}

// The tables of key ([[scpi.KEY]]), or none with the problem reported.
const toml::array *tablesOf(TomlFields &fields, const toml::table &scpi, const char *key)
{
    const toml::node *node = scpi.get(key);
    if (!node)
        return nullptr;
    const toml::array *array = node->as_array();
    if (!array || !array->is_array_of_tables()) {
        fields.fail(*node, QStringLiteral("'%1' must be tables: write [[scpi.%1]]").arg(QLatin1String(key)));
        return nullptr;
    }
    return array;
}

void readChoices(TomlFields &fields, const toml::table &table, Property *property)
{
    const toml::node *node = table.get("choices");
    if (!node)
        return;
    std::vector<QByteArray> written;
    const toml::array *array = node->as_array();
    for (size_t i = 0; array && i < array->size(); ++i) {
        if (const auto *text = array->get(i)->as_string())
            written.push_back(QByteArray::fromStdString(text->get()));
    }
    if (!array || written.size() != array->size() || written.empty()) {
        fields.fail(*node, QStringLiteral("'choices' must be a non-empty array of strings"));
        return;
    }
    QString error;
    if (std::optional<ChoiceList> choices = ChoiceList::parse(written, &error))
        property->choices = std::move(*choices);
    else
        fields.fail(*node, error);
}

// The initial of a property: a number for a numeric one, a choice's stored form for one with
// choices, else the text as written.
void readInitial(TomlFields &fields, const toml::table &table, const Property &property,
                 ValueDef *def)
{
    const toml::node *node = table.get("initial");
    if (!node) {
        fields.fail(table, QStringLiteral("a property needs initial"));
        return;
    }
    std::optional<double> number = TomlFields::numberOf(*node);
    const auto *text = node->as_string();
    if (!number && !text) {
        fields.fail(*node, QStringLiteral("'initial' must be a string or a number"));
        return;
    }
    const QByteArray written = text ? QByteArray::fromStdString(text->get()) : QByteArray();
    if (property.isNumeric()) {
        bool ok = number.has_value();
        if (!ok)
            number = written.trimmed().toDouble(&ok);
        if (!ok || (property.min && *number < *property.min) || (property.max && *number > *property.max)) {
            fields.fail(*node, QStringLiteral("'initial' must be a number from min to max"));
            return;
        }
        def->initialIsNumber = true;
        def->initialNumber = *number;
    } else if (!property.choices.isEmpty()) {
        const QByteArray *stored = text ? property.choices.matchWritten(written) : nullptr;
        if (!stored)
            fields.fail(*node, QStringLiteral("'initial' must be one of the choices"));
        else
            def->initial = *stored;
    } else if (number) {
        def->initialIsNumber = true;
        def->initialNumber = *number;
    } else {
        def->initial = written;
    }
}

void readProperty(TomlFields &fields, const toml::table &table, ReaderContext &context, Table *out)
{
    fields.allowKeys(table, { "name", "header", "initial", "choices", "min", "max", "format" });
    Property property;
    const std::optional<QString> name = fields.text(table, "name");
    if (!name) {
        if (!table.contains("name"))
            fields.fail(table, QStringLiteral("a property needs name: the value it is stored in"));
        return;
    }
    property.name = *name;
    const toml::node &nameNode = *table.get("name");
    if (const QString problem = checkValueName(*name); !problem.isEmpty())
        fields.fail(nameNode, problem);
    if (indexOf(context.values, *name) >= 0)
        fields.fail(nameNode, QStringLiteral("value name '%1' is used twice").arg(*name));
    if (std::optional<HeaderPattern> header = readHeader(fields, table)) {
        if (header->isQuery() || header->isCommon() || !header->suffixNames().empty())
            fields.fail(*table.get("header"),
                QStringLiteral("a property's header is a plain setting: no '?', '*' or suffix "
                               "(write a [[scpi.command]] for those)"));
        property.header = std::move(*header);
    }
    readChoices(fields, table, &property);
    property.min = fields.number(table, "min");
    property.max = fields.number(table, "max");
    if (property.isNumeric() && !property.choices.isEmpty())
        fields.fail(table, QStringLiteral("choices exclude min and max"));
    if (property.min && property.max && *property.min > *property.max)
        fields.fail(table, QStringLiteral("min is above max"));
    ValueDef def;
    def.name = *name;
    def.kind = ValueKind::Stored;
    readInitial(fields, table, property, &def);
    if (const std::optional<QString> format = fields.text(table, "format")) {
        QString error;
        if (std::optional<NumberFormat> parsed = NumberFormat::parse(*format, &error))
            def.format = *parsed;
        else
            fields.fail(*table.get("format"), error);
    }
    property.value = int(context.values.size());
    context.values.push_back(std::move(def));
    out->properties.push_back(std::move(property));
}

// Each suffix of a header is a stored value of its name, 1 until a command sets it.
void addSuffixValues(TomlFields &fields, const toml::table &table, ReaderContext &context,
                     Command *command)
{
    for (const QByteArray &suffix : command->header.suffixNames()) {
        const QString name = QString::fromUtf8(suffix);
        int index = indexOf(context.values, name);
        if (index < 0) {
            if (const QString problem = checkValueName(name); !problem.isEmpty())
                fields.fail(*table.get("header"), problem);
            ValueDef def;
            def.name = name;
            def.initialIsNumber = true;
            def.initialNumber = 1;
            index = int(context.values.size());
            context.values.push_back(std::move(def));
        } else if (context.values[size_t(index)].kind != ValueKind::Stored) {
            fields.fail(*table.get("header"),
                QStringLiteral("suffix <%1> names a value that is drawn, not stored").arg(name));
        }
        command->suffixValues.push_back(index);
    }
}

void readCommand(TomlFields &fields, const toml::table &table, ReaderContext &context, Table *out)
{
    fields.allowKeys(table, { "header", "set", "answer", "parameters" });
    Command command;
    std::optional<HeaderPattern> header = readHeader(fields, table);
    if (!header)
        return;
    command.name = fields.text(table, "header").value_or(QString());
    command.header = std::move(*header);
    if (const auto count = fields.integerRange(table, "parameters", 0, kMaxParameters)) {
        command.minParameters = int(count->first);
        command.maxParameters = int(count->second);
    }
    addSuffixValues(fields, table, context, &command);
    if (command.header.isQuery()) {
        command.answer = context.readTemplate(table, "answer", command.maxParameters);
        if (!table.contains("answer"))
            fields.fail(table, QStringLiteral("a query needs answer"));
    } else if (table.contains("answer")) {
        fields.fail(*table.get("answer"),
            QStringLiteral("a command that is not a query never answers: give the answer to "
                           "a header with '?'"));
    }
    if (const toml::table *sets = fields.table(table, "set"))
        context.readSets(*sets, command.maxParameters, &command.sets);
    out->commands.push_back(std::move(command));
}

} // namespace

Table readScpi(TomlFields &fields, const toml::table &scpi, ReaderContext &context)
{
    fields.allowKeys(scpi, { "idn", "property", "command" });
    Table table;
    if (const std::optional<QString> idn = fields.text(scpi, "idn"))
        table.idn = idn->toUtf8();
    // Every property before any command: a command's set may name a property written later.
    if (const toml::array *properties = tablesOf(fields, scpi, "property")) {
        for (const toml::node &node : *properties)
            readProperty(fields, *node.as_table(), context, &table);
    }
    if (const toml::array *commands = tablesOf(fields, scpi, "command")) {
        for (const toml::node &node : *commands)
            readCommand(fields, *node.as_table(), context, &table);
    }
    return table;
}

} // namespace Profile::Scpi
