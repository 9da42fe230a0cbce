#pragma once

#include "profile/matchbudget.h" // pcre2.h, for bytes

#include <QByteArray>
#include <QString>

#include <memory>

namespace Profile {

// A compiled pattern and the match data its tries fill, shared by the copies of a rule; both
// are used on one thread only.
struct Pcre2Code
{
    std::shared_ptr<const pcre2_code> code;
    std::shared_ptr<pcre2_match_data> data;

    // Compiled with "." matching any byte, and for the JIT where PCRE2 has one, for the kind
    // of match jitMode names. Empty, with PCRE2's reason, for a pattern it refuses.
    static Pcre2Code compile(
        const QString &pattern, QString *error, quint32 jitMode = PCRE2_JIT_COMPLETE);
    int captureCount() const;
    bool tookPart(int i) const
    {
        return pcre2_get_ovector_pointer(data.get())[2 * i] != PCRE2_UNSET;
    }
    // The bytes of group i of the last match (empty when it took no part).
    QByteArray group(const QByteArray &subject, int i) const;
};

} // namespace Profile
