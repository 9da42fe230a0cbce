#pragma once

#include "profile/scpi/mnemonic.h"
#include "profile/scpi/receivedheader.h"

#include <QByteArray>
#include <QString>
#include <QVarLengthArray>

#include <optional>
#include <vector>

namespace Profile::Scpi {

// A header in SCPI's notation, as a profile writes it: "[SENSe:]VOLTage[:DC]:RANGe[:UPPer]",
// "OUTPut<n>:STATe", "*IDN?". Each keyword takes its short or long form in any case, a
// bracketed part may be left out, "<name>" takes a numeric suffix (1 when the host sends
// none), and "?" makes it a query. Matching is against the whole path of a received header,
// after the level rule has put the level in front.
class HeaderPattern
{
public:
    // The numbers of the suffixes in the order of suffixNames().
    using Suffixes = QVarLengthArray<int, 4>;

    // None, with the reason, for a text outside the notation.
    static std::optional<HeaderPattern> parse(const QByteArray &written, QString *error);

    bool isQuery() const { return m_query; }
    bool isCommon() const { return m_common; }
    const std::vector<QByteArray> &suffixNames() const { return m_suffixNames; }
    // The path (the level's nodes then the header's own) is a form of this header.
    bool matches(const std::vector<const ReceivedNode *> &path, Suffixes *suffixes) const;

private:
    struct Node
    {
        Mnemonic word;
        // Into the suffixes; -1: the keyword takes none.
        int suffixSlot = -1;
        // A bracketed part begins here: where matching goes on when it is left out; 0: none.
        size_t skipTo = 0;
    };

    bool matchFrom(size_t at, size_t received, const std::vector<const ReceivedNode *> &path,
                   Suffixes *suffixes) const;

    std::vector<Node> m_nodes;
    std::vector<QByteArray> m_suffixNames;
    bool m_query = false;
    bool m_common = false;
};

} // namespace Profile::Scpi
