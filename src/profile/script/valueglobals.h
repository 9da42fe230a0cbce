#pragma once

#include "profile/script/scriptvalue.h"
#include "profile/values.h"

#include <QHash>

namespace Profile {

// Stores what a script or the control channel gives a stored value: a number as a number,
// anything else as the text Lua writes for it.
void storeValue(ValueBank &values, int index, const ScriptValue &value);

// The profile's values as a script sees them: stored ones as the bytes or number they hold,
// and settable; drawn ones as their reading in the answer under way.
class ValueGlobals : public ScriptGlobals
{
public:
    ValueGlobals(ValueBank &values, const std::vector<ValueDef> &defs);

    bool readValue(const QByteArray &name, ScriptValue *out) override;
    bool writeValue(const QByteArray &name, const ScriptValue &value, QString *error) override;

private:
    ValueBank &m_values;
    QHash<QByteArray, int> m_index;
};

} // namespace Profile
