#include "profile/scpi/statusmodel.h"

namespace Profile::Scpi {

namespace {
constexpr quint8 kErrorAvailable = 0x04;
constexpr quint8 kEventSummary = 0x20;
constexpr quint8 kServiceRequest = 0x40;

quint8 esrBitOf(int code)
{
    if (code <= -100 && code > -200)
        return StatusModel::CommandError;
    if (code <= -200 && code > -300)
        return StatusModel::ExecutionError;
    if (code <= -300 && code > -400)
        return StatusModel::DeviceError;
    if (code <= -400 && code > -500)
        return StatusModel::QueryError;
    return 0;
}
} // namespace

void StatusModel::report(int code, const QByteArray &text)
{
    m_esr |= esrBitOf(code);
    if (!m_queue.push(code, text))
        m_esr |= DeviceError;
}

quint8 StatusModel::statusByte() const
{
    quint8 stb = 0;
    if (!m_queue.isEmpty())
        stb |= kErrorAvailable;
    if (m_esr & ese)
        stb |= kEventSummary;
    if (stb & sre & ~kServiceRequest)
        stb |= kServiceRequest;
    return stb;
}

} // namespace Profile::Scpi
