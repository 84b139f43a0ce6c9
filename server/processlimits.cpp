#include "processlimits.h"

#include <sys/prctl.h>
#include <sys/resource.h>

std::string ProcessLimits::fitDescriptors(std::size_t needed, const std::string& what) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return {};
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised{limit.rlim_max, limit.rlim_max};
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    if (limit.rlim_cur == RLIM_INFINITY || needed <= limit.rlim_cur)
        return {};
    return what + " needs about " + std::to_string(needed) +
           " open files, and this process may open " + std::to_string(limit.rlim_cur) +
           " (its hard limit): lower it, or raise the limit (LimitNOFILE= in the service unit, "
           "ulimit -n in a shell)";
}

void ProcessLimits::makeUndumpable() {
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}
