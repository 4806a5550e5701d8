#include "tests/support/ChildTest.h"

#include <spawn.h>

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

}  // namespace ambrell::test
