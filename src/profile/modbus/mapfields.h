#pragma once

#include "profile/answertemplate.h"
#include "profile/profile.h"
#include "profile/tomlfields.h"

#include <functional>
#include <optional>

namespace Profile::Modbus {

// Parses the template under key of a table as the loader parses any template (values,
// {= } expressions); reports its own problems.
using TemplateReader
    = std::function<std::optional<AnswerTemplate>(const toml::table &table, const char *key)>;

// Reads the [modbus] table of root, when there is one, into instrument: the slave address,
// the four tables' [[modbus.holding]] ... entries, and the RTU framing, which replaces a
// [framing] table (refused beside it).
void readModbus(TomlFields &fields, const toml::table &root, const TemplateReader &readTemplate,
                Instrument *instrument);

} // namespace Profile::Modbus
