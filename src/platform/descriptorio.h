#pragma once

#include <QtGlobal>

// The few things done to a descriptor by code above the platform: a client or a stream's
// file closed, and the virtual port's relay, which reads, writes and waits on its own
// non-blocking descriptors.
namespace DescriptorIo {

void close(int fd);

// What fd has at once, at most most bytes into into: the count read; 0 when nothing is
// there yet or a signal came first; -1 at an end or an error that will not clear.
qint64 readSome(int fd, char *into, qint64 most);
// What fd takes at once of size bytes: the count taken, 0 when none.
qint64 writeSome(int fd, const char *from, qint64 size);

// One descriptor to wait on, for reading, writing or neither: even then a hang-up or an
// error ends the wait. readable tells afterwards whether there is something to read.
struct Watch
{
    int fd = -1;
    bool read = false;
    bool write = false;
    bool readable = false;
};

// Waits until one of count watches is ready or timeoutMs has passed (-1: no bound). False
// when the wait failed for another reason than a signal.
bool wait(Watch *watches, int count, int timeoutMs);
// The calling thread's timed waits end as close to their bound as the kernel can make them
// (its default lets them run 50 µs late, half a byte time at 115,200 bit/s), and the thread
// runs ahead of busy ones where the system allows it.
void preciseWakeups();
// The same as wait() with a bound in nanoseconds (-1: none), for waits shorter than a millisecond.
bool waitNs(Watch *watches, int count, qint64 timeoutNs);

} // namespace DescriptorIo
