#pragma once

#include <QByteArray>

namespace Profile::Scpi {

// A keyword of SCPI's notation ("MEASure"): the upper-case head is the short form, the whole
// word the long one. A host may send either, in any case, but nothing in between: MEASU is
// no form of MEASure. Choices of a property ("VOLTage:DC") are matched by the same rule.
class Mnemonic
{
public:
    Mnemonic() = default;
    // As written in a profile; false when the word is no keyword (empty, a lower-case head,
    // an upper-case letter after a lower-case one).
    static bool parse(const QByteArray &written, Mnemonic *out);
    // A word that has one form only, as it is.
    static Mnemonic literal(const QByteArray &word)
    {
        Mnemonic m;
        m.m_long = word;
        m.m_short = word;
        return m;
    }

    // received is upper-cased already.
    bool accepts(const QByteArray &received) const
    {
        return received == m_long || received == m_short;
    }
    const QByteArray &shortForm() const { return m_short; }
    const QByteArray &longForm() const { return m_long; }

private:
    QByteArray m_long;
    QByteArray m_short;
};

} // namespace Profile::Scpi
