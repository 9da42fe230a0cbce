#include "profile/scpi/mnemonic.h"

namespace Profile::Scpi {

namespace {
bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool isLower(char c) { return c >= 'a' && c <= 'z'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
} // namespace

bool Mnemonic::parse(const QByteArray &written, Mnemonic *out)
{
    if (written.isEmpty())
        return false;
    const char first = written[0];
    if (!isUpper(first) && first != '*')
        return false;
    qsizetype head = 0;
    while (head < written.size() && !isLower(written[head])) {
        const char c = written[head];
        if (!isUpper(c) && !isDigit(c) && c != '_' && !(head == 0 && c == '*'))
            return false;
        ++head;
    }
    for (qsizetype i = head; i < written.size(); ++i) {
        const char c = written[i];
        if (!isLower(c) && !isDigit(c) && c != '_')
            return false;
    }
    out->m_long = written.toUpper();
    out->m_short = written.left(head);
    return true;
}

} // namespace Profile::Scpi
