#pragma once

#include <stdexcept>
#include <string>

namespace ambrell::platform {

// Work handed to the runtime after its shutdown began (or, for the main queue
// and the serial queues, after it ended).
struct RuntimeStoppedError : std::runtime_error {
    RuntimeStoppedError() : std::runtime_error("The runtime has shut down; no new work is accepted") {}
};

// A blocking call that could never return (it would wait for the thread it
// blocks), or that would starve the pool (made on a pool thread).
struct BlockingCallError : std::logic_error {
    using std::logic_error::logic_error;
};

}  // namespace ambrell::platform
