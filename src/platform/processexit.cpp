#include "platform/processexit.h"

#include <cstdio>
#include <cstdlib>

void RealProcessExit::endNow()
{
    if (m_beforeExit)
        m_beforeExit();
    std::fflush(nullptr);
    std::_Exit(0);
}
