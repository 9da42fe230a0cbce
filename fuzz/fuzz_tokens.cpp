// Texts typed into the settings dialog. The conversion must end for any text, and text
// without a "[" must come out as its own code page 932 bytes.
#include "text/ansicodec.h"
#include "text/tokencodec.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray converted = mdlSUCMD::ConvertTokenText(text);
    if (!text.contains(QLatin1Char('[')) && converted != Ansi::encodeLossy(text))
        std::abort();
    // Each character gives at most two bytes, each token one.
    if (converted.size() > 2 * text.size())
        std::abort();
    QByteArray bytes;
    if (Ansi::encode(text, &bytes) && Ansi::decode(bytes).size() > bytes.size())
        std::abort();
    return 0;
}
