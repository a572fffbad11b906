#include "pipeline/ThreadPriority.h"

#include <pthread.h>
#include <sched.h>

namespace XEVLibrary {

void requestRealTimePriority(boost::thread& thread, int policy, int priority) noexcept {
    sched_param parameters{};
    parameters.sched_priority = priority;
    (void)pthread_setschedparam(thread.native_handle(), policy, &parameters);
}

} // namespace XEVLibrary
