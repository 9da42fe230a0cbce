#include "measure.h"
#include "profile/profileloader.h"
#include "profile/responder.h"
#include "replytiming.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <vector>

// What Lua adds to an answer: one {= } expression, one when and one call into the script,
// each timed through the responder as the engine's receive path asks for it, against the same
// rule without it in the same profile and the same run of Lua.
namespace {

// A bench supply's script, as a profile would carry it: vout() reads three stored values
// through limited() and a local helper.
const QByteArray kSupplyScript = R"(LOAD_OHMS = 10
local function demand() return tonumber(vset) / LOAD_OHMS end
function limited() return output == "1" and demand() > tonumber(iset) end
function vout()
  if output ~= "1" then return 0 end
  if limited() then return tonumber(iset) * LOAD_OHMS end
  return tonumber(vset)
end
)";

const QByteArray kValues = "[framing]\nterminator = \"[LF]\"\n"
                           "[values.vset]\ninitial = \"12.500\"\n"
                           "[values.iset]\ninitial = \"3.000\"\n"
                           "[values.output]\ninitial = \"1\"\n";

// Each case is a rule of its own, all in one profile, so that every reply runs in the one
// Lua state a session keeps.
struct Case
{
    const char *what;
    QByteArray rule; // the TOML of the rule, without its match
    QByteArray command;
    QByteArray answer; // what a correct reply sends: a reply that failed is not timed
};

const Case kCases[] = {
    { "plain {vset}", "answer = \"{vset}[LF]\"\n", "PLAIN?\n", "12.500\n" },
    { "{= string.format('%.3f', tonumber(vset) * 2) }",
        "answer = \"{= string.format('%.3f', tonumber(vset) * 2) }[LF]\"\n", "EXPR?\n",
        "25.000\n" },
    { "when = \"output == '1'\"", "when = \"output == '1'\"\nanswer = \"{vset}[LF]\"\n", "WHEN?\n",
        "12.500\n" },
    { "{= string.format('%.3f', vout()) }",
        "answer = \"{= string.format('%.3f', vout()) }[LF]\"\n", "CALL?\n", "12.500\n" },
};

QByteArray profileText(bool withScript)
{
    QByteArray toml = withScript ? "script = \"supply.lua\"\n" : "";
    toml += kValues;
    for (const Case &c : kCases) {
        toml += "[[rule]]\nmatch = \"" + c.command.chopped(1) + "[LF]\"\n" + c.rule;
        if (!withScript)
            break; // a profile without Lua has only the plain rule
    }
    return toml;
}

std::optional<Profile::Instrument> load(const QTemporaryDir &folder, bool withScript)
{
    QFile script(folder.filePath(QStringLiteral("supply.lua")));
    if (!script.open(QIODevice::WriteOnly) || script.write(kSupplyScript) != kSupplyScript.size())
        return std::nullopt;
    script.close();
    QString error;
    std::optional<Profile::Instrument> instrument = Profile::loadProfileText(
        profileText(withScript), folder.filePath(QStringLiteral("supply.toml")), &error);
    if (!instrument)
        std::fprintf(stderr, "%s\n", qPrintable(error));
    return instrument;
}

bool answersRight(Profile::Responder &responder, const Case &c)
{
    const Profile::Reply reply = responder.reply(c.command);
    if (reply.bytes == c.answer && reply.failure.isEmpty())
        return true;
    std::fprintf(stderr, "%s: answered \"%s\" (%s), expected \"%s\"\n", c.what,
        reply.bytes.constData(), qPrintable(reply.failure), c.answer.constData());
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int rounds = quick ? 2'000 : 200'000;
    const int warmUp = rounds / 10;
    qint64 sink = 0;

    const QTemporaryDir folder;
    const std::optional<Profile::Instrument> scripted = load(folder, true);
    const std::optional<Profile::Instrument> plain = load(folder, false);
    if (!folder.isValid() || !scripted || !plain)
        return 1;
    Profile::Responder responder(*scripted, 7);
    Profile::Responder withoutLua(*plain, 7);
    for (const Case &c : kCases) {
        if (!answersRight(responder, c))
            return 1;
    }
    if (!answersRight(withoutLua, kCases[0]))
        return 1;

    // The cases take turns, round after round, so that each sees the same load of a shared
    // machine; the first tenth of the rounds warms caches and is left out.
    constexpr int kCount = int(std::size(kCases));
    std::vector<std::vector<double>> times(kCount + 1);
    for (int round = 0; round < rounds + warmUp; ++round) {
        const bool kept = round >= warmUp;
        for (int i = 0; i < kCount; ++i) {
            const double us = replyMicroseconds(responder, kCases[i].command, &sink);
            if (kept)
                times[i].push_back(us);
        }
        const double us = replyMicroseconds(withoutLua, kCases[0].command, &sink);
        if (kept)
            times[kCount].push_back(us);
    }

    for (const double p : { 50.0, 99.0 }) {
        const char *const at = p == 50 ? "median" : "p99";
        const double base = Measure::percentile(times[0], p);
        Measure::report(qPrintable(QStringLiteral("reply with %1, profile without Lua, %2")
                                .arg(QLatin1String(kCases[0].what), QLatin1String(at))),
            Measure::percentile(times[kCount], p), "us", "");
        Measure::report(qPrintable(QStringLiteral("reply with %1, profile with a script, %2")
                                .arg(QLatin1String(kCases[0].what), QLatin1String(at))),
            base, "us", "");
        for (int i = 1; i < kCount; ++i) {
            Measure::report(qPrintable(QStringLiteral("one %1 beyond plain {vset}, %2")
                                    .arg(QLatin1String(kCases[i].what), QLatin1String(at))),
                Measure::percentile(times[i], p) - base, "us", i == 1 ? "<= 5" : "");
        }
    }
    return sink == 42 ? 2 : 0;
}
