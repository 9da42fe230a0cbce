#include "profile/scpi/builtins.h"

#include <utility>

namespace Profile::Scpi {

namespace {
struct Entry
{
    HeaderPattern pattern;
    Builtin builtin;
};

std::vector<Entry> makeEntries()
{
    static const std::pair<const char *, Builtin> kHeaders[] = {
        { "*CLS", Builtin::Cls }, { "*ESE", Builtin::Ese }, { "*ESE?", Builtin::EseQuery },
        { "*ESR?", Builtin::EsrQuery }, { "*IDN?", Builtin::IdnQuery }, { "*OPC", Builtin::Opc },
        { "*OPC?", Builtin::OpcQuery }, { "*RST", Builtin::Rst }, { "*SRE", Builtin::Sre },
        { "*SRE?", Builtin::SreQuery }, { "*STB?", Builtin::StbQuery },
        { "*TST?", Builtin::TstQuery }, { "*WAI", Builtin::Wai },
        { "SYSTem:ERRor[:NEXT]?", Builtin::ErrorNext },
        { "SYSTem:ERRor:COUNt?", Builtin::ErrorCount },
        { "SYSTem:VERSion?", Builtin::VersionQuery },
    };
    std::vector<Entry> entries;
    QString error;
    for (const auto &[header, builtin] : kHeaders)
        entries.push_back(Entry { *HeaderPattern::parse(header, &error), builtin });
    return entries;
}
} // namespace

Builtin findBuiltin(const std::vector<const ReceivedNode *> &path, bool query)
{
    static const std::vector<Entry> entries = makeEntries();
    HeaderPattern::Suffixes suffixes;
    for (const Entry &entry : entries) {
        if (entry.pattern.isQuery() == query && entry.pattern.matches(path, &suffixes))
            return entry.builtin;
    }
    return Builtin::None;
}

} // namespace Profile::Scpi
