#pragma once

#include "profile/script/scriptvalue.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

struct lua_State;

namespace Profile {

// The Lua 5.4 state of one run of a profile: its script's globals are the instrument's state,
// and its expressions ({= }, when) are compiled once and called for every answer.
//
// Sandboxed: only the base functions that touch nothing outside (no load, dofile, print,
// collectgarbage), string (without dump), table, math (its random drawn from the run's seed,
// so a seed repeats a session) and utf8; require loads only NAME.lua beside the profile. Each
// call is bounded in Lua steps, and the whole state in memory: a runaway call stops with
// "CHUNK:LINE: script ran past its budget" and the state stays usable.
class LuaState
{
public:
    static constexpr qint64 kStepBudget = 1'000'000;
    static constexpr size_t kMemoryBudget = size_t(64) << 20;

    // folder: where require finds its files; empty allows none.
    LuaState(quint64 seed, const QString &folder);
    ~LuaState();
    LuaState(const LuaState &) = delete;
    LuaState &operator=(const LuaState &) = delete;

    // Compiles without running: the reason ("LINE: message") when the code is no Lua. An
    // expression's lines count from firstLine, so a message names the line of the file it
    // came from.
    static std::optional<QString> syntaxError(const QByteArray &code, int firstLine);
    static QByteArray expressionChunk(const QByteArray &expression, int firstLine);

    void setGlobals(ScriptGlobals *globals);
    // Runs a script's top level. chunk names it in messages ("psu.lua").
    bool run(const QByteArray &code, const QString &chunk, QString *error);
    // Compiles an expression for evaluate(); its number, or -1 with the reason.
    int addExpression(const QByteArray &expression, const QString &chunk, int line, QString *error);
    bool evaluate(int expression, ScriptValue *result, QString *error);
    // Calls a global function with arguments; its first result.
    bool call(const QString &function, const std::vector<ScriptValue> &args, ScriptValue *result,
              QString *error);
    // cap and frame for the command being answered; none outside one.
    void setCommand(const QByteArray &frame, const QList<QByteArray> &captures);
    // arg for a SCPI command: its parameters, from arg[1].
    void setArguments(const QList<QByteArray> &arguments);
    // Sets a global of the script's own (not a value).
    void setGlobal(const QByteArray &name, const ScriptValue &value);
    bool hasGlobal(const QByteArray &name);

    // The text an expression's result writes: nil nothing, a truth 1 or 0, a number as Lua
    // writes it, bytes as they are.
    static QByteArray textOf(const ScriptValue &value);

    // Called by the step hook.
    void chargeSteps(lua_State *state, int steps);

private:
    bool protectedCall(int arguments, int results, QString *error);
    void push(const ScriptValue &value);
    bool pull(int index, ScriptValue *value, QString *error);
    void openSandbox(quint64 seed);

    struct Memory
    {
        size_t used = 0;
        size_t limit = kMemoryBudget;
    };
    static void *allocate(void *ud, void *block, size_t oldSize, size_t newSize);

    Memory m_memory;
    lua_State *m_state = nullptr;
    QString m_folder;
    qint64 m_steps = 0;
    std::vector<int> m_expressions;
};

} // namespace Profile
