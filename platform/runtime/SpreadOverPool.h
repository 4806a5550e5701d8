#pragma once

#include <cstddef>
#include <functional>

namespace ambrell::platform {

// Calls work(first, end) for consecutive ranges of at most `grain` indices
// that together cover [0, count) once each, spread over the shared pool's
// threads with the calling thread taking part, and returns once every call
// has returned. For short, independent, processor-bound steps of synchronous
// code, on the pool or off it: the caller takes whatever range is left
// itself, so it never waits for work that has not started, only for ranges
// already running on other threads (the pool's rule that none of its threads
// waits for queued work holds). Calls run in no particular order; each
// writes its own part of the result. The first exception a call throws is
// rethrown here once all calls have ended; the ranges not yet begun by then
// are skipped. With a pool that has stopped, the caller does it all.
void spreadOverPool(std::size_t count, std::size_t grain,
                    const std::function<void(std::size_t first, std::size_t end)>& work);

}  // namespace ambrell::platform
