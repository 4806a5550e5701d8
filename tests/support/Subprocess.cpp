#include "tests/support/Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "tests/support/WaitFor.h"

extern "C" char** environ;

namespace ambrell::test {

namespace {

std::vector<char*> argvOf(std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return argv;
}

int statusOf(int waitStatus) { return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1; }

void killAndReap(pid_t pid) {
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

ProgramResult runProgram(const std::vector<std::string>& arguments, std::chrono::milliseconds bound) {
    ProgramResult result;
    if (arguments.empty()) return result;
    std::array<int, 2> pipeEnds{};
    if (::pipe2(pipeEnds.data(), O_CLOEXEC) != 0) return result;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
    auto copy = arguments;
    auto argv = argvOf(copy);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (spawned != 0) {
        ::close(pipeEnds[0]);
        result.output = "could not start " + arguments[0];
        return result;
    }

    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::array<char, 4096> buffer{};
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            break;
        }
        pollfd reader{pipeEnds[0], POLLIN, 0};
        const int ready = ::poll(&reader, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        const auto count = ::read(pipeEnds[0], buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        result.output.append(buffer.data(), static_cast<std::size_t>(count));
    }
    ::close(pipeEnds[0]);
    if (result.timedOut) {
        killAndReap(pid);
        return result;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitStatus = statusOf(status);
    return result;
}

ChildProcess::~ChildProcess() { stop(); }

bool ChildProcess::start(const std::vector<std::string>& arguments,
                         const std::optional<std::filesystem::path>& output) {
    if (arguments.empty() || pid_ > 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string target = output ? output->string() : std::string("/dev/null");
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, target.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    auto copy = arguments;
    auto argv = argvOf(copy);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;
    pid_ = pid;
    exitStatus_.reset();
    return true;
}

void ChildProcess::reaped(int status) {
    exitStatus_ = statusOf(status);
    pid_ = -1;
}

bool ChildProcess::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        reaped(status);
        return false;
    }
    return done == 0;
}

bool ChildProcess::waitForExit(std::chrono::milliseconds bound) {
    return waitFor([this] { return !running(); }, bound);
}

void ChildProcess::stop(std::chrono::milliseconds bound) {
    if (!running()) return;
    ::kill(pid_, SIGTERM);
    if (waitForExit(bound)) return;
    killAndReap(pid_);
    exitStatus_ = -1;
    pid_ = -1;
}

}  // namespace ambrell::test
