#pragma once

#include "profile/tomlfields.h"
#include "profile/values.h"

#include <vector>

namespace Profile {

// Reads the [values] table: one ValueDef for each [values.NAME] table. A value with problems
// is still returned under its name, so the rules that name it do not add false complaints.
std::vector<ValueDef> readValues(TomlFields &fields, const toml::table &values);
// Why a name cannot be a value's (a Lua word, a helper's or a placeholder's name); empty
// when it can.
QString checkValueName(const QString &name);

} // namespace Profile
