#include "profile/scpi/errorqueue.h"

namespace Profile::Scpi {

bool ErrorQueue::push(int code, const QByteArray &text)
{
    if (m_errors.size() < kCapacity) {
        m_errors.push_back(QueuedError { code, text });
        return true;
    }
    if (m_errors.back().code != kOverflow)
        m_errors.back() = QueuedError { kOverflow, QByteArrayLiteral("Queue overflow") };
    return false;
}

QueuedError ErrorQueue::take()
{
    if (m_errors.empty())
        return QueuedError { 0, QByteArrayLiteral("No error") };
    QueuedError oldest = std::move(m_errors.front());
    m_errors.pop_front();
    return oldest;
}

QByteArray ErrorQueue::written(const QueuedError &error)
{
    QByteArray out = error.code >= 0 ? QByteArrayLiteral("+") : QByteArray();
    out += QByteArray::number(error.code);
    out += ",\"";
    out += error.text;
    out += '"';
    return out;
}

} // namespace Profile::Scpi
