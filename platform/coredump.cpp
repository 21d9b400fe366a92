#include "platform/coredump.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace tq {

void stopCoreDumps()
{
#ifndef _WIN32
    struct rlimit none {};
    none.rlim_cur = 0;
    none.rlim_max = 0;
    ::setrlimit(RLIMIT_CORE, &none);
#endif
#ifdef __linux__
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

} // namespace tq
