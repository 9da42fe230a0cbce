#pragma once

// Waits the given number of seconds while the event loop keeps serving clicks and port
// events. It sleeps in a nested event loop until a deadline on a monotonic clock, never
// returns early, and always processes pending events at least once, so 0 or a negative
// value returns after one pass.
void WaitSeconds(double seconds);
