#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ambrell::test {

// What a program said and how it ended.
struct ProgramResult {
    // The exit status; -1 when it was killed by a signal, did not start, or
    // outlived the bound.
    int exitStatus = -1;
    // Standard output and standard error, interleaved as written.
    std::string output;
    bool timedOut = false;

    [[nodiscard]] bool succeeded() const { return exitStatus == 0; }
};

// Runs a program (looked up in PATH when the name has no slash) to its end,
// with its output captured and no input. One that is still running when the
// bound passes is killed.
ProgramResult runProgram(const std::vector<std::string>& arguments,
                         std::chrono::milliseconds bound = std::chrono::seconds(30));

// A program running beside the test, its output going to a file (or
// nowhere). Stopped when the object goes.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // False when the program could not be started.
    bool start(const std::vector<std::string>& arguments, const std::optional<std::filesystem::path>& output = {});
    [[nodiscard]] pid_t pid() const { return pid_; }
    // Whether it still runs; reaps it when it has ended.
    bool running();
    // The exit status once it has ended on its own (-1 for a signal).
    [[nodiscard]] std::optional<int> exitStatus() const { return exitStatus_; }
    // Waits, bounded, until the program ends by itself.
    bool waitForExit(std::chrono::milliseconds bound);
    // SIGTERM, then SIGKILL if it has not ended within the bound; reaped.
    void stop(std::chrono::milliseconds bound = std::chrono::seconds(10));

private:
    void reaped(int status);

    pid_t pid_ = -1;
    std::optional<int> exitStatus_;
};

}  // namespace ambrell::test
