// Core dumps off for the rest of the run: a dump of a process that holds an
// opened sealed memo, its passphrase or its key would put them on disk.
#pragma once

namespace tq {

// From now until the process ends: no core file (RLIMIT_CORE 0) and, on Linux,
// not dumpable (PR_SET_DUMPABLE 0, which also keeps other processes of the user
// from reading its memory). Windows writes no dumps by itself: nothing to do.
// Calling it again does nothing more.
void stopCoreDumps();

} // namespace tq
