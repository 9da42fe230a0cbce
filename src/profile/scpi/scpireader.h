#pragma once

#include "profile/answertemplate.h"
#include "profile/scpi/scpitable.h"
#include "profile/tomlfields.h"
#include "profile/values.h"

#include <functional>
#include <optional>
#include <vector>

namespace Profile::Scpi {

// What the [scpi] table needs of the profile reader: the values (its properties and suffixes
// join them as stored values), and the reader's own parsing of templates and sets, so that
// {NAME}, {= } and set mean in a SCPI command what they mean in a rule.
struct ReaderContext
{
    std::vector<ValueDef> &values;
    std::function<std::optional<AnswerTemplate>(const toml::table &, const char *key,
                                                int captureCount)>
        readTemplate;
    std::function<void(const toml::table &sets, int captureCount, Sets *out)> readSets;
};

// Reads [scpi] with its [[scpi.property]] and [[scpi.command]] tables; problems go to fields.
Table readScpi(TomlFields &fields, const toml::table &scpi, ReaderContext &context);

} // namespace Profile::Scpi
