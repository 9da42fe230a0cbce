#include "profile/pcre2code.h"

namespace Profile {

Pcre2Code Pcre2Code::compile(const QString &pattern, QString *error, quint32 jitMode)
{
    const QByteArray bytes = pattern.toLatin1();
    int code = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code *compiled = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(bytes.constData()),
        size_t(bytes.size()), PCRE2_DOTALL, &code, &offset, nullptr);
    Pcre2Code result;
    if (!compiled) {
        PCRE2_UCHAR message[256];
        pcre2_get_error_message(code, message, sizeof message);
        *error = QString::fromLatin1(reinterpret_cast<const char *>(message));
        return result;
    }
    // Without a JIT (or for a pattern it cannot take) the interpreter runs it, as correctly.
    pcre2_jit_compile(compiled, jitMode);
    result.code.reset(compiled, pcre2_code_free);
    result.data.reset(
        pcre2_match_data_create_from_pattern(compiled, nullptr), pcre2_match_data_free);
    return result;
}

int Pcre2Code::captureCount() const
{
    uint32_t count = 0;
    pcre2_pattern_info(code.get(), PCRE2_INFO_CAPTURECOUNT, &count);
    return int(count);
}

QByteArray Pcre2Code::group(const QByteArray &subject, int i) const
{
    const PCRE2_SIZE *ovector = pcre2_get_ovector_pointer(data.get());
    const PCRE2_SIZE start = ovector[2 * i];
    if (start == PCRE2_UNSET)
        return QByteArray();
    return subject.mid(qsizetype(start), qsizetype(ovector[2 * i + 1] - start));
}

} // namespace Profile
