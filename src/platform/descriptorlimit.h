#pragma once

// The number of descriptors the process may have open (RLIMIT_NOFILE).
namespace DescriptorLimit {

// Raises the soft limit to the hard one, as far as the system lets, so that a harness with
// many clients is not held to the 1,024 a shell starts with. The soft limit in force after.
long raiseToHard();

// In a child between fork and exec: the soft limit back to the one the program started with,
// so that a host program is run as the user's shell would run it. Async-signal-safe.
void restoreInChild();

} // namespace DescriptorLimit
