// This process's id without a system call each time: the pool and the network
// thread check it on every hand-over, to notice that they run in a forked child.
#pragma once

#include <sys/types.h>

namespace brindlex {

// Any thread. Kept current across fork by a handler that runs in the child.
pid_t CurrentProcessId();

}  // namespace brindlex
