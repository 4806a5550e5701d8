#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ambrell::test {

// One entry of an archive that Python's zipfile builds for a test.
struct FixtureEntry {
    std::string name;
    std::string data;
    std::uint32_t mode = 0100644;
    int year = 2021, month = 6, day = 15, hour = 10, minute = 20, second = 30;
    int system = 3;  // Unix
    bool deflate = true;

    static FixtureEntry file(std::string name, std::string data);
    static FixtureEntry folder(std::string name);
    static FixtureEntry link(std::string name, std::string target);
};

// Builds the archive with Python's zipfile, an implementation independent of ours.
void writeFixtureArchive(const std::filesystem::path& archive, const std::vector<FixtureEntry>& entries);

// An entry as Python's zipfile reads it.
struct PythonEntry {
    int method = 0;
    int flags = 0;
    std::uint32_t mode = 0;  // the high 16 bits of the external attributes
    int system = 0;
    std::optional<std::string> data;  // none for a method zipfile does not know
};

// The entries by name as Python's zipfile reads them, or none when it cannot
// read one of them (wrong password, bad CRC, not an archive).
std::optional<std::map<std::string, PythonEntry>> readWithPython(const std::filesystem::path& archive,
                                                                 const std::optional<std::string>& password = {});

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& contents);

// Where the first occurrence of the bytes is in the file.
std::size_t findInFile(const std::filesystem::path& path, const std::string& bytes);
void patchFile(const std::filesystem::path& path, std::size_t offset, const std::string& bytes);

// Text that deflate cannot shrink much, so its bytes show up in the archive.
std::string noisyText(std::size_t size, std::uint32_t seed);

// The local time of the components, as the archive stores them.
std::chrono::system_clock::time_point localTime(int year, int month, int day, int hour, int minute, int second);
std::chrono::system_clock::time_point modificationTime(const std::filesystem::path& path);

}  // namespace ambrell::test
