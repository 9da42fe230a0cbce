#include "waitseconds.h"

#include "sessionclock.h"

void WaitSeconds(double seconds)
{
    SessionClock::steady().waitSeconds(seconds);
}
