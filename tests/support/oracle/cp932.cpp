#include "cp932.h"

#include <QtGlobal>

#include <cerrno>
#include <iconv.h>
#include <vector>

namespace Oracle {
namespace {

std::optional<QByteArray> convert(const char *to, const char *from, const QByteArray &in)
{
    const iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1))
        qFatal("iconv cannot convert from %s to %s", from, to);
    std::vector<char> inBuf(in.begin(), in.end());
    std::vector<char> outBuf(size_t(in.size()) * 4 + 16);
    char *inPtr = inBuf.data();
    char *outPtr = outBuf.data();
    size_t inLeft = inBuf.size(), outLeft = outBuf.size();
    const size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    const bool whole = done != size_t(-1) && iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == 0;
    iconv_close(cd);
    if (!whole)
        return std::nullopt;
    return QByteArray(outBuf.data(), qsizetype(outBuf.size() - outLeft));
}

} // namespace

std::optional<QByteArray> toCp932(const QString &text)
{
    return convert("CP932", "UTF-8", text.toUtf8());
}

QByteArray cp932(const QString &text)
{
    const std::optional<QByteArray> bytes = toCp932(text);
    if (!bytes)
        qFatal("a test text has no code page 932 form: %s", qPrintable(text));
    return *bytes;
}

std::optional<QString> fromCp932(const QByteArray &bytes)
{
    const std::optional<QByteArray> utf8 = convert("UTF-8", "CP932", bytes);
    if (!utf8)
        return std::nullopt;
    return QString::fromUtf8(*utf8);
}

} // namespace Oracle
