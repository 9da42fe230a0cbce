#pragma once

#include "profile/answertemplate.h"
#include "profile/scpi/choicelist.h"
#include "profile/scpi/headerpattern.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace Profile::Scpi {

// Values a command sets, by value index, in file order (as a rule's set).
using Sets = std::vector<std::pair<int, AnswerTemplate>>;

// One [[scpi.property]]: a setting the host writes with "HEADER value" and reads with
// "HEADER?". It is a stored value of the instrument, so templates, Lua and set see it too.
struct Property
{
    QString name;
    int value = -1;
    HeaderPattern header;
    // Non-empty: only these are taken (-224 otherwise).
    ChoiceList choices;
    // Either set: a number, in range (-222 otherwise), MIN MAX DEF taken.
    std::optional<double> min;
    std::optional<double> max;
    bool isNumeric() const { return min.has_value() || max.has_value(); }
};

// One [[scpi.command]]: a header the profile answers or acts on.
struct Command
{
    // The header as written, for messages.
    QString name;
    HeaderPattern header;
    int minParameters = 0;
    int maxParameters = 0;
    Sets sets;
    // A query's answer, without the terminator: answers of a message are joined first.
    std::optional<AnswerTemplate> answer;
    // The stored value each suffix of the header writes, in the order of the header's names.
    std::vector<int> suffixValues;
};

// The [scpi] table.
struct Table
{
    // *IDN?'s answer; empty: *IDN? is an undefined header unless a command answers it.
    QByteArray idn;
    std::vector<Property> properties;
    std::vector<Command> commands;
};

} // namespace Profile::Scpi
