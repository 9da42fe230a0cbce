#pragma once

#include "profile/framer.h"

namespace Profile::Modbus {

// Frames Modbus RTU requests (Framing::Mode::ModbusRtu): a request ends as soon as the bytes
// its function code implies have arrived (requestlength.h), so the answer leaves at once;
// the silence of 3.5 characters (Framing::gapNs) drops a request cut short, so one lost byte
// costs one request, not every later one. A function of unknown length is ended by that
// silence and handed out, for the map to answer it with exception 1.
class RtuFramer : public Framer
{
public:
    // The largest RTU frame; only a request of unknown length can run up to it.
    static constexpr int kMaxFrame = 256;

    explicit RtuFramer(const Framing &framing);

protected:
    void take(const QByteArray &bytes, qint64 atNs, std::vector<Frame> *out) override;
    void timeUp(std::vector<Frame> *out) override;

private:
    qint64 m_silenceNs;
    qint64 m_lastByteNs = 0;
};

} // namespace Profile::Modbus
