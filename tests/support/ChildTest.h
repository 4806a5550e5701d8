#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace ambrell::test {

// Starts this test program again as a child process that runs only the test
// `testName`, with this process's environment plus `name=value`. Tests that
// must outlive a kill, or see a second process, run their other half there.
// Answers the child's pid, or -1 when it could not be started.
pid_t spawnThisProgramForTest(std::string_view testName, std::string_view name, const std::string& value);

// Runs `body` `runs` times, each in a child process forked from this one, one
// after another: for a race with the runtime's shutdown, which a process goes
// through once. Each child starts its runtime afresh: a test that started a
// thread before (run beside others in one process) runs again, alone, in a
// fresh copy of the program, which does the runs. A child
// ends with the code `body` returns, or earlier by itself (exit(), a
// sanitizer's report). One that is still running after `bound` is killed.
// Answers nothing when every child ended with 0, else what happened to the
// first that did not; no further child is started after it.
std::string failureOfForkedRuns(int runs, std::chrono::milliseconds bound, const std::function<int(int run)>& body);

}  // namespace ambrell::test
