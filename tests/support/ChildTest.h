#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace ambrell::test {

// Starts this test program again as a child process that runs only the test
// `testName`, with this process's environment plus `name=value`. Tests that
// must outlive a kill, or see a second process, run their other half there.
// Answers the child's pid, or -1 when it could not be started.
pid_t spawnThisProgramForTest(std::string_view testName, std::string_view name, const std::string& value);

}  // namespace ambrell::test
