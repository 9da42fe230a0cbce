#pragma once

#include "profile/answertemplate.h"
#include "profile/framer.h"
#include "profile/scpi/builtins.h"
#include "profile/scpi/programmessage.h"
#include "profile/scpi/scpitable.h"
#include "profile/scpi/statusmodel.h"
#include "profile/values.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

namespace Profile {
class LuaState;
}

namespace Profile::Scpi {

// Plays a profile's [scpi] table: takes a program message, runs its commands in order under
// the level rule, keeps the error queue and the status registers, and gives the answers of
// its queries joined by ';' with the terminator. A command that is not a query never
// answers, so a host that reads after every query stays in step.
class Engine
{
public:
    // A rule's set, as the responder applies it: all or nothing.
    using ApplySets = std::function<bool(const Sets &, const Expansion &, QString *)>;

    struct Outcome
    {
        // Empty: no query in the message.
        QByteArray bytes;
        // A Lua error stopped the message here: the command, why, and a key to log it once.
        QString failure;
        QString where;
        int failedKey = 0;
    };

    Engine(const Table &table, const std::vector<ValueDef> &defs, const Framing &framing,
           ValueBank &values, LuaState *script, ApplySets applySets);

    Outcome run(const QByteArray &frame);
    StatusModel &status() { return m_status; }

private:
    using Path = std::vector<const ReceivedNode *>;

    bool runUnit(const ProgramUnit &unit, const Path &path, Outcome *outcome);
    bool runCommand(size_t index, const ProgramUnit &unit, const HeaderPattern::Suffixes &suffixes,
                    Outcome *outcome);
    void runProperty(const Property &property, const ProgramUnit &unit);
    void setProperty(const Property &property, const Parameter &parameter);
    void runBuiltin(Builtin builtin, const ProgramUnit &unit);
    bool reset(const Path &path, const ProgramUnit &unit, Outcome *outcome);
    // A parameter of *ESE or *SRE: 0 to 255.
    std::optional<quint8> maskParameter(const ProgramUnit &unit);
    void answer(const QByteArray &text);
    void fail(int code, const char *text) { m_status.report(code, QByteArray(text)); }

    const Table &m_table;
    const std::vector<ValueDef> &m_defs;
    QByteArray m_terminator;
    ValueBank &m_values;
    LuaState *m_script;
    ApplySets m_applySets;
    StatusModel m_status;
    // The answers of the message under way.
    QByteArray m_answers;
    bool m_answered = false;
};

} // namespace Profile::Scpi
