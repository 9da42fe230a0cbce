#pragma once

#include <QByteArray>

#include <variant>

namespace Profile {

// A value crossing between the engine and a profile's script: nothing, a truth, a number, or
// bytes (Lua strings are bytes).
struct ScriptValue
{
    enum class Type { Nil, Boolean, Number, Bytes };
    Type type = Type::Nil;
    bool boolean = false;
    double number = 0;
    QByteArray bytes;

    static ScriptValue ofNumber(double n)
    {
        ScriptValue v;
        v.type = Type::Number;
        v.number = n;
        return v;
    }
    static ScriptValue ofBytes(QByteArray b)
    {
        ScriptValue v;
        v.type = Type::Bytes;
        v.bytes = std::move(b);
        return v;
    }
    static ScriptValue ofBoolean(bool b)
    {
        ScriptValue v;
        v.type = Type::Boolean;
        v.boolean = b;
        return v;
    }
};

// What a script sees of the profile's values, as globals of its state.
class ScriptGlobals
{
public:
    virtual ~ScriptGlobals() = default;
    // False when no value has the name (the name is then the script's own global).
    virtual bool readValue(const QByteArray &name, ScriptValue *out) = 0;
    // Only for a name readValue() knows. False, with the reason, when the value cannot be set.
    virtual bool writeValue(const QByteArray &name, const ScriptValue &value, QString *error) = 0;
};

} // namespace Profile
