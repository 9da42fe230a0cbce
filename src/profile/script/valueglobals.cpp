#include "profile/script/valueglobals.h"

#include "profile/script/luastate.h"

namespace Profile {

void storeValue(ValueBank &values, int index, const ScriptValue &value)
{
    if (value.type == ScriptValue::Type::Number)
        values.setNumber(index, value.number);
    else
        values.set(index, LuaState::textOf(value));
}

ValueGlobals::ValueGlobals(ValueBank &values, const std::vector<ValueDef> &defs)
    : m_values(values)
{
    for (size_t i = 0; i < defs.size(); ++i)
        m_index.insert(defs[i].name.toUtf8(), int(i));
}

bool ValueGlobals::readValue(const QByteArray &name, ScriptValue *out)
{
    const auto it = m_index.constFind(name);
    if (it == m_index.cend())
        return false;
    const int index = *it;
    if (!m_values.isSettable(index))
        *out = ScriptValue::ofBytes(m_values.reading(index));
    else if (m_values.isNumber(index))
        *out = ScriptValue::ofNumber(m_values.storedNumber(index));
    else
        *out = ScriptValue::ofBytes(m_values.storedText(index));
    return true;
}

bool ValueGlobals::writeValue(const QByteArray &name, const ScriptValue &value, QString *error)
{
    const int index = m_index.value(name, -1);
    if (index < 0)
        return false;
    if (!m_values.isSettable(index)) {
        *error = QStringLiteral("value '%1' is drawn, not stored, and cannot be set")
                         .arg(QString::fromUtf8(name));
        return false;
    }
    storeValue(m_values, index, value);
    return true;
}

} // namespace Profile
