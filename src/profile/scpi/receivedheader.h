#pragma once

#include <QByteArray>

#include <vector>

namespace Profile::Scpi {

// One node of a header as a host sent it, upper-cased once so that every pattern it is tried
// against compares bytes. A trailing number may be a numeric suffix (OUTP2) or part of the
// keyword itself (CH1): both readings are kept.
struct ReceivedNode
{
    QByteArray full;
    // full without its trailing digits, and those digits as a number (-1: none).
    QByteArray stem;
    int suffix = -1;
};

// A program header as sent: ":SENS:VOLT:RANG?" or "*IDN?".
struct ReceivedHeader
{
    // Starts with ':': from the root, not from the level of the command before.
    bool absolute = false;
    // A common command (*IDN?), outside the tree: it leaves the level as it is.
    bool common = false;
    bool query = false;
    std::vector<ReceivedNode> nodes;

    // False when the text is no header (an empty node, a character no keyword holds).
    static bool parse(const QByteArray &text, ReceivedHeader *out);
};

} // namespace Profile::Scpi
