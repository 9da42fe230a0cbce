// Windows: _fileno(stdout), and nothing to ignore: a write to a pipe without a reader fails.

#include "platform/standardoutput.h"

#include <csignal>
#include <unistd.h>

namespace StandardOutput {

int descriptor()
{
    return STDOUT_FILENO;
}

void outliveReaders()
{
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace StandardOutput
