#pragma once

// The number of descriptors the process may have open (RLIMIT_NOFILE).
namespace DescriptorLimit {

// Raises the soft limit to the hard one, as far as the system lets, so that a harness with
// many clients is not held to the 1,024 a shell starts with. The soft limit in force after.
long raiseToHard();

} // namespace DescriptorLimit
