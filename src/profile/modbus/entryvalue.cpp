#include "profile/modbus/entryvalue.h"

#include "profile/script/luastate.h"

namespace Profile::Modbus {

namespace {

bool numberOfText(const QByteArray &text, double *number, QString *error)
{
    const QByteArray trimmed = text.trimmed();
    if (trimmed == "true" || trimmed == "false") {
        *number = trimmed == "true" ? 1 : 0;
        return true;
    }
    bool ok = false;
    *number = trimmed.toDouble(&ok);
    if (!ok)
        *error = QStringLiteral("the value '%1' is no number").arg(QString::fromUtf8(text.left(40)));
    return ok;
}

} // namespace

bool entryNumber(const MapEntry &entry, quint16 address, const Expansion &with, double *number,
                 QString *error)
{
    if (!entry.value) {
        *number = entry.constant;
        return true;
    }
    static const QByteArray kAddr = QByteArrayLiteral("addr");
    if (with.script)
        with.script->setGlobal(kAddr, ScriptValue::ofNumber(address));
    const int sole = entry.value->soleExpression();
    if (sole < 0 || !with.script) {
        QByteArray text;
        return entry.value->expand(with, &text, error) && numberOfText(text, number, error);
    }
    ScriptValue result;
    if (!with.script->evaluate(sole, &result, error))
        return false;
    switch (result.type) {
    case ScriptValue::Type::Number:
        *number = result.number;
        return true;
    case ScriptValue::Type::Boolean:
        *number = result.boolean ? 1 : 0;
        return true;
    case ScriptValue::Type::Bytes:
        return numberOfText(result.bytes, number, error);
    case ScriptValue::Type::Nil:
        break;
    }
    *error = QStringLiteral("the value of address %1 is nil").arg(address);
    return false;
}

} // namespace Profile::Modbus
