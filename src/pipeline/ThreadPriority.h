#pragma once

#include <boost/thread/thread.hpp>

namespace XEVLibrary {

/// Asks the system to run @p thread with a real-time @p policy (SCHED_RR,
/// SCHED_FIFO) at @p priority. Without the privilege the request is refused
/// and the thread keeps its normal policy; the refusal is not an error.
void requestRealTimePriority(boost::thread& thread, int policy, int priority) noexcept;

} // namespace XEVLibrary
