#pragma once

#include <optional>

// The lines an instrument drives on a null-modem cable, as the host sees them: its RTS on the
// host's CTS, its DTR on the host's DSR and DCD, its ring indicator. A powered instrument
// holds all but RI up.
struct ModemLines
{
    bool cts = true;
    bool dsr = true;
    bool dcd = true;
    bool ri = false;

    bool operator==(const ModemLines &o) const
    {
        return cts == o.cts && dsr == o.dsr && dcd == o.dcd && ri == o.ri;
    }
    bool operator!=(const ModemLines &o) const { return !(*this == o); }
};

// A rule's lines = { cts = false }: the lines it names, the others as they are.
struct ModemLinesChange
{
    std::optional<bool> cts, dsr, dcd, ri;

    bool any() const { return cts || dsr || dcd || ri; }
    ModemLines appliedTo(ModemLines lines) const
    {
        lines.cts = cts.value_or(lines.cts);
        lines.dsr = dsr.value_or(lines.dsr);
        lines.dcd = dcd.value_or(lines.dcd);
        lines.ri = ri.value_or(lines.ri);
        return lines;
    }
};
