#include "tests/support/ChildTest.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

extern "C" char** environ;

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

// What ends a child's status, for a message.
std::string describedEnd(int status) {
    if (WIFSIGNALED(status)) return "was ended by signal " + std::to_string(WTERMSIG(status));
    return "exited with " + std::to_string(WEXITSTATUS(status));
}

bool startedAThread() {
    std::error_code ignored;
    const std::filesystem::directory_iterator tasks("/proc/self/task", ignored);
    return std::distance(begin(tasks), end(tasks)) > 1;
}

// Set in the fresh copy of the test program that runs the forked runs.
constexpr std::string_view kFreshProcessVariable = "AMBRELL_FORKED_RUNS_PROCESS";

// A forked child has only the thread that forked: a runtime whose pools the
// parent started would be left without threads. This test then runs again,
// alone, in a fresh copy of the program.
std::string failureInAFreshProcess(int runs, std::chrono::milliseconds bound) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    if (test == nullptr || std::getenv(kFreshProcessVariable.data()) != nullptr) {
        return "the forked runs need a test process that started no thread";
    }
    const pid_t child =
        spawnThisProgramForTest(std::string(test->test_suite_name()) + "." + test->name(), kFreshProcessVariable, "1");
    if (child < 0) return "the test could not be started in a fresh process";
    const auto status = statusWithin(child, bound * runs + std::chrono::minutes(1));
    if (!status) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        return "the fresh process that ran the forked runs did not end";
    }
    if (WIFEXITED(*status) && WEXITSTATUS(*status) == 0) return {};
    return "the fresh process that ran the forked runs " + describedEnd(*status) + " (its output says why)";
}

}  // namespace
}  // namespace child_test

std::string failureOfForkedRuns(int runs, std::chrono::milliseconds bound, const std::function<int(int run)>& body) {
    if (child_test::startedAThread()) return child_test::failureInAFreshProcess(runs, bound);
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
        if (!WIFEXITED(*status) || WEXITSTATUS(*status) != 0) return which + " " + child_test::describedEnd(*status);
    }
    return {};
}

}  // namespace ambrell::test
