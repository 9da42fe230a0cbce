// Windows: _setmaxstdio for the C runtime; handles have no soft limit to raise.

#include "platform/descriptorlimit.h"

#include <sys/resource.h>

namespace DescriptorLimit {

namespace {
// Kept by raiseToHard() for restoreInChild(); nothing else writes it after.
struct rlimit startingLimit {};
bool haveStartingLimit = false;
} // namespace

long raiseToHard()
{
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        struct rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            startingLimit = limit;
            haveStartingLimit = true;
            limit = raised;
        }
    }
    // An unlimited limit still has to be a number to count clients against.
    constexpr rlim_t kAtMost = 1 << 20;
    return long(limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > kAtMost ? kAtMost
                                                                            : limit.rlim_cur);
}

void restoreInChild()
{
    if (haveStartingLimit)
        ::setrlimit(RLIMIT_NOFILE, &startingLimit);
}

} // namespace DescriptorLimit
