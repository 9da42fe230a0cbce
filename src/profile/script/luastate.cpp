#include "profile/script/luastate.h"

#include "platform/regularfile.h"
#include "profile/script/luahelpers.h"

#include <QDir>
#include <QRegularExpression>

#include <lua.hpp>

#include <cmath>
#include <cstdlib>

namespace Profile {

namespace {

constexpr int kHookEvery = 1000;
constexpr qint64 kLargestScript = qint64(4) << 20;
const char *const kLoadedKey = "kalo.loaded";

LuaState *owner(lua_State *L)
{
    return *static_cast<LuaState **>(lua_getextraspace(L));
}

// Whole numbers as Lua integers, so tostring writes 5 and not 5.0.
void pushValue(lua_State *L, const ScriptValue &value)
{
    switch (value.type) {
    case ScriptValue::Type::Nil:
        lua_pushnil(L);
        return;
    case ScriptValue::Type::Boolean:
        lua_pushboolean(L, value.boolean);
        return;
    case ScriptValue::Type::Number:
        if (value.number == std::floor(value.number) && std::fabs(value.number) < 9007199254740992.0)
            lua_pushinteger(L, lua_Integer(value.number));
        else
            lua_pushnumber(L, value.number);
        return;
    case ScriptValue::Type::Bytes:
        lua_pushlstring(L, value.bytes.constData(), size_t(value.bytes.size()));
        return;
    }
}

ScriptGlobals *globalsOf(lua_State *L)
{
    return static_cast<ScriptGlobals *>(lua_touserdata(L, lua_upvalueindex(1)));
}

void stepHook(lua_State *L, lua_Debug *ar)
{
    owner(L)->chargeSteps(L, kHookEvery);
    (void)ar;
}

// Lua raises by a long jump, which would skip C++ destructors: a function here makes its
// message on the stack inside a scope of its own and raises once that scope has closed.
void pushError(lua_State *L, const QByteArray &message)
{
    luaL_where(L, 1);
    lua_pushlstring(L, message.constData(), size_t(message.size()));
    lua_concat(L, 2);
}

// _G's __index: a value by its name, or an error for a name nothing defines.
int readGlobal(lua_State *L)
{
    {
        size_t length = 0;
        const char *name = lua_tolstring(L, 2, &length);
        ScriptGlobals *globals = globalsOf(L);
        if (!name) {
            lua_pushnil(L);
            return 1;
        }
        ScriptValue value;
        if (globals && globals->readValue(QByteArray(name, qsizetype(length)), &value)) {
            pushValue(L, value);
            return 1;
        }
        pushError(L, "unknown name '" + QByteArray(name, qsizetype(length)) + "'");
    }
    return lua_error(L);
}

// _G's __newindex: a value's name sets the value; any other name is the script's own global.
int writeGlobal(lua_State *L)
{
    {
        size_t length = 0;
        const char *name = lua_type(L, 2) == LUA_TSTRING ? lua_tolstring(L, 2, &length) : nullptr;
        ScriptGlobals *globals = globalsOf(L);
        ScriptValue probe;
        const QByteArray key = name ? QByteArray(name, qsizetype(length)) : QByteArray();
        if (!name || !globals || !globals->readValue(key, &probe)) {
            lua_rawset(L, 1);
            return 0;
        }
        ScriptValue value;
        QString error;
        switch (lua_type(L, 3)) {
        case LUA_TNUMBER:
            value = ScriptValue::ofNumber(lua_tonumber(L, 3));
            break;
        case LUA_TSTRING: {
            size_t size = 0;
            const char *data = lua_tolstring(L, 3, &size);
            value = ScriptValue::ofBytes(QByteArray(data, qsizetype(size)));
            break;
        }
        case LUA_TBOOLEAN:
            value = ScriptValue::ofBytes(lua_toboolean(L, 3) ? "1" : "0");
            break;
        default:
            error = QStringLiteral("value '%1' takes a string or a number, not %2")
                            .arg(QString::fromUtf8(key), QLatin1String(luaL_typename(L, 3)));
            break;
        }
        if (error.isEmpty() && globals->writeValue(key, value, &error))
            return 0;
        pushError(L, error.toUtf8());
    }
    return lua_error(L);
}

// Reads NAME.lua beside the profile and leaves its compiled chunk on the stack; false with
// the message there instead.
bool loadBeside(lua_State *L, const char *name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    const QString module = QString::fromUtf8(name);
    if (!plain.match(module).hasMatch()) {
        pushError(L, "require: '" + module.toUtf8() + "' is no plain module name");
        return false;
    }
    const QString folder = QString::fromUtf8(lua_tostring(L, lua_upvalueindex(1)));
    if (folder.isEmpty()) {
        pushError(L, "require: no folder to load '" + module.toUtf8() + "' from");
        return false;
    }
    QByteArray code;
    QString problem;
    const QString path = QDir(folder).filePath(module + QStringLiteral(".lua"));
    if (!RegularFile::read(path, kLargestScript, &code, &problem)) {
        pushError(L, "require: " + problem.toUtf8());
        return false;
    }
    const QByteArray chunk = "@" + (module + QStringLiteral(".lua")).toUtf8();
    return luaL_loadbufferx(L, code.constData(), size_t(code.size()), chunk.constData(), "t")
            == LUA_OK;
}

// require "name": NAME.lua beside the profile, run once, its result kept.
int requireBeside(lua_State *L)
{
    const char *name = luaL_checkstring(L, 1);
    lua_getfield(L, LUA_REGISTRYINDEX, kLoadedKey);
    lua_getfield(L, -1, name);
    if (!lua_isnil(L, -1))
        return 1;
    lua_pop(L, 1);
    if (!loadBeside(L, name))
        return lua_error(L);
    lua_call(L, 0, 1);
    if (lua_isnil(L, -1)) {
        lua_pop(L, 1);
        lua_pushboolean(L, 1);
    }
    lua_pushvalue(L, -1);
    lua_setfield(L, -3, name);
    return 1;
}

// As Lua's tostring writes a number it did not make itself.
QByteArray numberText(double number)
{
    if (number == std::floor(number) && std::fabs(number) < 9007199254740992.0)
        return QByteArray::number(qint64(number));
    QByteArray text = QByteArray::number(number, 'g', 14);
    return text;
}

} // namespace

void *LuaState::allocate(void *ud, void *block, size_t oldSize, size_t newSize)
{
    Memory *memory = static_cast<Memory *>(ud);
    const size_t old = block ? oldSize : 0;
    if (newSize == 0) {
        std::free(block);
        memory->used -= old;
        return nullptr;
    }
    if (newSize > old && memory->used + (newSize - old) > memory->limit)
        return nullptr;
    void *grown = std::realloc(block, newSize);
    if (grown)
        memory->used = memory->used - old + newSize;
    return grown;
}

LuaState::LuaState(quint64 seed, const QString &folder)
    : m_folder(folder)
{
    m_state = lua_newstate(&LuaState::allocate, &m_memory);
    *static_cast<LuaState **>(lua_getextraspace(m_state)) = this;
    openSandbox(seed);
    lua_sethook(m_state, stepHook, LUA_MASKCOUNT, kHookEvery);
}

LuaState::~LuaState()
{
    lua_close(m_state);
}

void LuaState::openSandbox(quint64 seed)
{
    lua_State *L = m_state;
    const luaL_Reg libraries[] = {
        { LUA_GNAME, luaopen_base },
        { LUA_STRLIBNAME, luaopen_string },
        { LUA_TABLIBNAME, luaopen_table },
        { LUA_MATHLIBNAME, luaopen_math },
        { LUA_UTF8LIBNAME, luaopen_utf8 },
    };
    for (const luaL_Reg &library : libraries) {
        luaL_requiref(L, library.name, library.func, 1);
        lua_pop(L, 1);
    }
    // The same seed, the same draws.
    lua_getglobal(L, LUA_MATHLIBNAME);
    lua_getfield(L, -1, "randomseed");
    lua_pushinteger(L, lua_Integer(seed & 0x7FFFFFFFFFFFFFFFull));
    lua_pushinteger(L, lua_Integer(seed >> 63));
    lua_call(L, 2, 0);
    // Reseeding from the time would break the repetition.
    lua_pushnil(L);
    lua_setfield(L, -2, "randomseed");
    lua_pop(L, 1);
    lua_getglobal(L, LUA_STRLIBNAME);
    lua_pushnil(L);
    lua_setfield(L, -2, "dump");
    lua_pop(L, 1);
    for (const char *unsafe : { "dofile", "loadfile", "load", "print", "collectgarbage" }) {
        lua_pushnil(L);
        lua_setglobal(L, unsafe);
    }
    openHelpers(L);
    lua_newtable(L);
    lua_setfield(L, LUA_REGISTRYINDEX, kLoadedKey);
    const QByteArray folder = m_folder.toUtf8();
    lua_pushstring(L, folder.constData());
    lua_pushcclosure(L, requireBeside, 1);
    lua_setglobal(L, "require");
    setGlobals(nullptr);
}

void LuaState::setGlobals(ScriptGlobals *globals)
{
    lua_State *L = m_state;
    lua_pushglobaltable(L);
    lua_createtable(L, 0, 2);
    lua_pushlightuserdata(L, globals);
    lua_pushcclosure(L, readGlobal, 1);
    lua_setfield(L, -2, "__index");
    lua_pushlightuserdata(L, globals);
    lua_pushcclosure(L, writeGlobal, 1);
    lua_setfield(L, -2, "__newindex");
    lua_setmetatable(L, -2);
    lua_pop(L, 1);
}

void LuaState::chargeSteps(lua_State *state, int steps)
{
    m_steps += steps;
    if (m_steps <= kStepBudget)
        return;
    lua_Debug ar;
    if (lua_getstack(state, 0, &ar) && lua_getinfo(state, "Sl", &ar) && ar.currentline > 0)
        lua_pushfstring(state, "%s:%d: script ran past its budget", ar.short_src, ar.currentline);
    else
        lua_pushstring(state, "script ran past its budget");
    lua_error(state);
}

std::optional<QString> LuaState::syntaxError(const QByteArray &code, int firstLine)
{
    lua_State *L = luaL_newstate();
    const QByteArray padded = QByteArray(qMax(0, firstLine - 1), '\n') + code;
    std::optional<QString> error;
    if (luaL_loadbufferx(L, padded.constData(), size_t(padded.size()), "=", "t") != LUA_OK) {
        QString message = QString::fromUtf8(lua_tostring(L, -1));
        // "=" names the chunk ":LINE: reason"; the caller names the file.
        if (message.startsWith(QLatin1Char(':')))
            message.remove(0, 1);
        error = message;
    }
    lua_close(L);
    return error;
}

QByteArray LuaState::expressionChunk(const QByteArray &expression, int firstLine)
{
    // A line break before the closing parenthesis: a comment at the end stays a comment.
    return QByteArray(qMax(0, firstLine - 1), '\n') + "return (" + expression + "\n)";
}

bool LuaState::protectedCall(int arguments, int results, QString *error)
{
    m_steps = 0;
    const int status = lua_pcall(m_state, arguments, results, 0);
    if (status == LUA_OK)
        return true;
    if (status == LUA_ERRMEM)
        *error = QStringLiteral("script ran past its memory budget");
    else if (lua_type(m_state, -1) == LUA_TSTRING)
        *error = QString::fromUtf8(lua_tostring(m_state, -1));
    else
        *error = QStringLiteral("script raised a %1").arg(QLatin1String(luaL_typename(m_state, -1)));
    lua_pop(m_state, 1);
    // What a runaway call built is given back before the next one.
    lua_gc(m_state, LUA_GCCOLLECT);
    return false;
}

bool LuaState::run(const QByteArray &code, const QString &chunk, QString *error)
{
    const QByteArray name = "@" + chunk.toUtf8();
    if (luaL_loadbufferx(m_state, code.constData(), size_t(code.size()), name.constData(), "t")
        != LUA_OK) {
        *error = QString::fromUtf8(lua_tostring(m_state, -1));
        lua_pop(m_state, 1);
        return false;
    }
    return protectedCall(0, 0, error);
}

int LuaState::addExpression(const QByteArray &expression, const QString &chunk, int line,
                            QString *error)
{
    const QByteArray code = expressionChunk(expression, line);
    const QByteArray name = "=" + chunk.toUtf8();
    if (luaL_loadbufferx(m_state, code.constData(), size_t(code.size()), name.constData(), "t")
        != LUA_OK) {
        *error = QString::fromUtf8(lua_tostring(m_state, -1));
        lua_pop(m_state, 1);
        return -1;
    }
    m_expressions.push_back(luaL_ref(m_state, LUA_REGISTRYINDEX));
    return int(m_expressions.size()) - 1;
}

bool LuaState::evaluate(int expression, ScriptValue *result, QString *error)
{
    lua_rawgeti(m_state, LUA_REGISTRYINDEX, m_expressions[size_t(expression)]);
    if (!protectedCall(0, 1, error))
        return false;
    const bool pulled = pull(-1, result, error);
    lua_pop(m_state, 1);
    return pulled;
}

bool LuaState::call(const QString &function, const std::vector<ScriptValue> &args,
                    ScriptValue *result, QString *error)
{
    const QByteArray name = function.toUtf8();
    // Raw: the globals' __index raises for an unknown name, and nothing may raise outside a
    // protected call.
    lua_pushglobaltable(m_state);
    lua_pushlstring(m_state, name.constData(), size_t(name.size()));
    const int type = lua_rawget(m_state, -2);
    lua_remove(m_state, -2);
    if (type != LUA_TFUNCTION) {
        lua_pop(m_state, 1);
        *error = QStringLiteral("no function '%1'").arg(function);
        return false;
    }
    for (const ScriptValue &arg : args)
        push(arg);
    if (!protectedCall(int(args.size()), 1, error))
        return false;
    const bool pulled = pull(-1, result, error);
    lua_pop(m_state, 1);
    return pulled;
}

void LuaState::push(const ScriptValue &value)
{
    pushValue(m_state, value);
}

bool LuaState::pull(int index, ScriptValue *value, QString *error)
{
    size_t length = 0;
    switch (lua_type(m_state, index)) {
    case LUA_TNIL:
        *value = ScriptValue();
        return true;
    case LUA_TBOOLEAN:
        *value = ScriptValue::ofBoolean(lua_toboolean(m_state, index));
        return true;
    case LUA_TNUMBER: {
        *value = ScriptValue::ofNumber(lua_tonumber(m_state, index));
        // As Lua's tostring writes it: 3 for an integer, 3.0 for a float.
        const char *text = luaL_tolstring(m_state, index, &length);
        value->bytes = QByteArray(text, qsizetype(length));
        lua_pop(m_state, 1);
        return true;
    }
    case LUA_TSTRING: {
        const char *data = lua_tolstring(m_state, index, &length);
        *value = ScriptValue::ofBytes(QByteArray(data, qsizetype(length)));
        return true;
    }
    default:
        *error = QStringLiteral("gave a %1, not a string, number, boolean or nil")
                         .arg(QLatin1String(luaL_typename(m_state, index)));
        return false;
    }
}

void LuaState::setCommand(const QByteArray &frame, const QList<QByteArray> &captures)
{
    lua_State *L = m_state;
    lua_pushglobaltable(L);
    lua_pushliteral(L, "frame");
    lua_pushlstring(L, frame.constData(), size_t(frame.size()));
    lua_rawset(L, -3);
    lua_pushliteral(L, "cap");
    lua_createtable(L, int(captures.size()), 1);
    for (qsizetype i = 0; i < captures.size(); ++i) {
        lua_pushlstring(L, captures[i].constData(), size_t(captures[i].size()));
        lua_rawseti(L, -2, lua_Integer(i));
    }
    lua_rawset(L, -3);
    lua_pop(L, 1);
}

void LuaState::setArguments(const QList<QByteArray> &arguments)
{
    lua_State *L = m_state;
    lua_pushglobaltable(L);
    lua_pushliteral(L, "arg");
    lua_createtable(L, int(arguments.size()), 0);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        lua_pushlstring(L, arguments[i].constData(), size_t(arguments[i].size()));
        lua_rawseti(L, -2, lua_Integer(i + 1));
    }
    lua_rawset(L, -3);
    lua_pop(L, 1);
}

void LuaState::setGlobal(const QByteArray &name, const ScriptValue &value)
{
    lua_pushglobaltable(m_state);
    lua_pushlstring(m_state, name.constData(), size_t(name.size()));
    push(value);
    lua_rawset(m_state, -3);
    lua_pop(m_state, 1);
}

bool LuaState::hasGlobal(const QByteArray &name)
{
    lua_pushglobaltable(m_state);
    lua_pushlstring(m_state, name.constData(), size_t(name.size()));
    const bool has = lua_rawget(m_state, -2) != LUA_TNIL;
    lua_pop(m_state, 2);
    return has;
}

QByteArray LuaState::textOf(const ScriptValue &value)
{
    switch (value.type) {
    case ScriptValue::Type::Nil:
        return QByteArray();
    case ScriptValue::Type::Boolean:
        return value.boolean ? "1" : "0";
    case ScriptValue::Type::Number:
        if (value.bytes.isEmpty())
            return numberText(value.number);
        break;
    case ScriptValue::Type::Bytes:
        break;
    }
    return value.bytes;
}

} // namespace Profile
