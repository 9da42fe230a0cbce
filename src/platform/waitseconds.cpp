#include "platform/waitseconds.h"

#include "platform/sessionclock.h"

void WaitSeconds(double seconds)
{
    SessionClock::steady().waitSeconds(seconds);
}
