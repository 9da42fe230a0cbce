#pragma once

#include "profile/faults.h"
#include "profile/tomlfields.h"

#include <vector>

namespace Profile {

// The keys of delay, pacing and faults, which a [[rule]] and the [faults] table share.
extern const std::vector<const char *> kBehaviourKeys;

// Reads those keys of table into behaviour; keys the table lacks leave behaviour as it was,
// so a rule starts from the [faults] table and replaces what it names.
void readBehaviour(TomlFields &fields, const toml::table &table, Behaviour *behaviour);

} // namespace Profile
