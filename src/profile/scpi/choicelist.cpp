#include "profile/scpi/choicelist.h"

#include <QList>

namespace Profile::Scpi {

namespace {
// A part that is no keyword in SCPI's notation ("1", "10V") is matched as it is.
Mnemonic partOf(const QByteArray &part)
{
    Mnemonic word;
    if (Mnemonic::parse(part, &word))
        return word;
    return Mnemonic::literal(part.toUpper());
}
} // namespace

std::optional<ChoiceList> ChoiceList::parse(const std::vector<QByteArray> &written, QString *error)
{
    ChoiceList list;
    for (const QByteArray &entry : written) {
        Choice choice;
        QByteArray inside = entry.trimmed();
        const char quote = inside.isEmpty() ? 0 : inside[0];
        if (quote == '"' || quote == '\'') {
            if (inside.size() < 2 || !inside.endsWith(quote)) {
                *error = QStringLiteral("choice %1 opens a quote it does not close")
                             .arg(QString::fromUtf8(entry));
                return std::nullopt;
            }
            choice.quoted = true;
            inside = inside.mid(1, inside.size() - 2);
        }
        if (inside.isEmpty()) {
            *error = QStringLiteral("a choice is empty");
            return std::nullopt;
        }
        QByteArray shortForm;
        for (const QByteArray &part : inside.split(':')) {
            choice.parts.push_back(partOf(part));
            if (choice.parts.size() > 1)
                shortForm += ':';
            shortForm += choice.parts.back().shortForm();
        }
        choice.stored = choice.quoted ? quote + shortForm + quote : shortForm;
        list.m_choices.push_back(std::move(choice));
    }
    return list;
}

const QByteArray *ChoiceList::find(const QByteArray &text, bool quoted) const
{
    const QList<QByteArray> parts = text.toUpper().split(':');
    for (const Choice &choice : m_choices) {
        if (choice.quoted != quoted || qsizetype(choice.parts.size()) != parts.size())
            continue;
        bool all = true;
        for (qsizetype i = 0; i < parts.size() && all; ++i)
            all = choice.parts[size_t(i)].accepts(parts[i]);
        if (all)
            return &choice.stored;
    }
    return nullptr;
}

const QByteArray *ChoiceList::match(const Parameter &parameter) const
{
    return find(parameter.text, parameter.quoted);
}

const QByteArray *ChoiceList::matchWritten(const QByteArray &written) const
{
    QByteArray inside = written.trimmed();
    const bool quoted = inside.size() >= 2 && (inside[0] == '"' || inside[0] == '\'')
        && inside.endsWith(inside[0]);
    if (quoted)
        inside = inside.mid(1, inside.size() - 2);
    return find(inside, quoted);
}

} // namespace Profile::Scpi
