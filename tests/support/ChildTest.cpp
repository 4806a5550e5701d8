#include "tests/support/ChildTest.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

extern char** environ;

namespace ambrell::test {

pid_t spawnThisProgramForTest(std::string_view testName, std::string_view name, const std::string& value) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
    environment.push_back(std::string(name) + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    std::string program = "/proc/self/exe";
    std::string filter = "--gtest_filter=" + std::string(testName);
    char* argv[] = {program.data(), filter.data(), nullptr};
    pid_t child = 0;
    if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return -1;
    return child;
}

namespace child_test {
namespace {

// Waits for `child` until `bound` passes; the raw status, or none.
std::optional<int> statusWithin(pid_t child, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(child, &status, WNOHANG);
        if (ended == child) return status;
        if (ended < 0) return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace
}  // namespace child_test

std::string failureOfForkedRuns(int runs, std::chrono::milliseconds bound, const std::function<int(int run)>& body) {
    for (int run = 0; run < runs; ++run) {
        // What is buffered would otherwise be written by the child too.
        std::fflush(nullptr);
        const pid_t child = ::fork();
        if (child < 0) return "run " + std::to_string(run) + ": fork failed";
        if (child == 0) std::_Exit(body(run));
        const std::string which = "run " + std::to_string(run + 1) + " of " + std::to_string(runs);
        const auto status = child_test::statusWithin(child, bound);
        if (!status) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            return which + " did not end within " + std::to_string(bound.count()) + " ms: it hung";
        }
        if (WIFSIGNALED(*status)) return which + " was ended by signal " + std::to_string(WTERMSIG(*status));
        if (WEXITSTATUS(*status) != 0) return which + " exited with " + std::to_string(WEXITSTATUS(*status));
    }
    return {};
}

}  // namespace ambrell::test
