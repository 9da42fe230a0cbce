#include "measure.h"
#include "serial/uartline.h"

#include <cstring>
#include <vector>

// What the relay pays per byte when the two ends' settings differ: one send() a byte, as the
// bytes come off the pty one read at a time, and in reads of 64.
namespace {

struct Case
{
    const char *what;
    UartFormat sender, receiver;
    int chunk;
};

const Case kCases[] = {
    { "UART line 9600 8N1 read at 19200 7E1, a byte a call", { 9600, 8, 'N', 2 }, { 19200, 7, 'E', 2 }, 1 },
    { "UART line 115200 8N1 read at 9650 8N1, a byte a call", { 115200, 8, 'N', 2 }, { 9650, 8, 'N', 2 }, 1 },
    { "UART line 9600 8N1 read at 9650 8E1, 64 bytes a call", { 9600, 8, 'N', 2 }, { 9650, 8, 'E', 2 }, 64 },
};

} // namespace

int main(int argc, char *argv[])
{
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int batches = quick ? 20 : 200;
    const int batchBytes = 4096;
    QByteArray bytes;
    for (int i = 0; i < batchBytes; ++i)
        bytes.append(char((i * 167 + 13) & 0xFF));
    qint64 sink = 0;
    for (const Case &c : kCases) {
        UartLine line(c.sender, c.receiver, { false, true, true, false, false });
        std::vector<double> nsPerByte;
        for (int batch = 0; batch < batches + batches / 10; ++batch) {
            const double t0 = Measure::monotonicSeconds();
            for (int at = 0; at < batchBytes; at += c.chunk)
                sink += line.send(bytes.mid(at, c.chunk), 0).size();
            if (batch >= batches / 10) // the first tenth warms up
                nsPerByte.push_back((Measure::monotonicSeconds() - t0) * 1e9 / batchBytes);
        }
        Measure::report(c.what, Measure::percentile(nsPerByte, 50), "ns/byte", "< 1000");
    }
    return sink == 42 ? 2 : 0;
}
