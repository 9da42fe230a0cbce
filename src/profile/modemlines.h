#pragma once

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
