#pragma once

#include "profile/scpi/mnemonic.h"
#include "profile/scpi/programmessage.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace Profile::Scpi {

// The values a property takes, as the profile lists them: '"VOLTage:DC"' (a string) or
// 'IMMediate' (a keyword). A host's parameter matches a choice as SCPI matches keywords: in
// any case, each part in its short or long form, a string in either quote. What is stored is
// the choice's short form in the profile's quotes, so a query answers as an instrument does.
class ChoiceList
{
public:
    // None, with the reason, for an entry that is empty or an open quote.
    static std::optional<ChoiceList> parse(const std::vector<QByteArray> &written, QString *error);

    bool isEmpty() const { return m_choices.empty(); }
    // The stored form of the matching choice; null when none matches.
    const QByteArray *match(const Parameter &parameter) const;
    // The stored form of a choice as written, for an initial; null when it is none of them.
    const QByteArray *matchWritten(const QByteArray &written) const;

private:
    struct Choice
    {
        bool quoted = false;
        // The parts between colons; a part that is no keyword matches only itself.
        std::vector<Mnemonic> parts;
        QByteArray stored;
    };

    const QByteArray *find(const QByteArray &text, bool quoted) const;

    std::vector<Choice> m_choices;
};

} // namespace Profile::Scpi
