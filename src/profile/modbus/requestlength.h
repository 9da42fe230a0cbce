#pragma once

#include <QByteArrayView>

namespace Profile::Modbus {

// RTU has no delimiters: a request is whole when the bytes its function code implies have
// arrived, so the answer need not wait for the line to fall silent.
constexpr int kNeedMore = 0;
// A function whose length this table does not know: only the silence can end it.
constexpr int kUnknownLength = -1;

// The length of the RTU request (address, function, data, CRC) that begins with head, as far
// as head tells it: the length, kNeedMore while the count byte of 15, 16, 23 (and the file
// record functions) has not arrived, or kUnknownLength.
int requestLength(QByteArrayView head);

} // namespace Profile::Modbus
