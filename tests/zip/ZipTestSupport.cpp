#include "tests/zip/ZipTestSupport.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include <sys/stat.h>

#include <fmt/format.h>
#include <gtest/gtest.h>

namespace ambrell::test {

namespace {

std::string toHex(const std::string& bytes) {
    std::string hex;
    for (const unsigned char c : bytes) hex += fmt::format("{:02x}", c);
    return hex;
}

std::string fromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (const char c : text) {
        if (c == '\'') {
            result += "'\\''";
        } else {
            result += c;
        }
    }
    return result + "'";
}

}  // namespace

FixtureEntry FixtureEntry::file(std::string name, std::string data) {
    FixtureEntry entry;
    entry.name = std::move(name);
    entry.data = std::move(data);
    return entry;
}

FixtureEntry FixtureEntry::folder(std::string name) {
    FixtureEntry entry;
    entry.name = std::move(name);
    entry.mode = 040755;
    return entry;
}

FixtureEntry FixtureEntry::link(std::string name, std::string target) {
    FixtureEntry entry;
    entry.name = std::move(name);
    entry.data = std::move(target);
    entry.mode = 0120777;
    return entry;
}

void writeFixtureArchive(const std::filesystem::path& archive, const std::vector<FixtureEntry>& entries) {
    const auto listing = std::filesystem::path(archive.string() + ".entries");
    {
        std::ofstream out(listing);
        for (const auto& e : entries) {
            out << toHex(e.name) << '\t' << toHex(e.data) << '\t' << fmt::format("{:o}", e.mode) << '\t'
                << fmt::format("{},{},{},{},{},{}", e.year, e.month, e.day, e.hour, e.minute, e.second) << '\t'
                << e.system << '\t' << (e.deflate ? "deflate" : "stored") << '\n';
        }
    }
    const std::string command = fmt::format("python3 {} write {} {}", quoted(AMBRELL_ZIP_FIXTURE_SCRIPT),
                                            quoted(archive.string()), quoted(listing.string()));
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::filesystem::remove(listing);
}

std::optional<std::map<std::string, PythonEntry>> readWithPython(const std::filesystem::path& archive,
                                                                 const std::optional<std::string>& password) {
    std::string command =
        fmt::format("python3 {} read {}", quoted(AMBRELL_ZIP_FIXTURE_SCRIPT), quoted(archive.string()));
    if (password) command += " " + quoted(*password);
    command += " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string output;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    if (::pclose(pipe) != 0) return std::nullopt;

    std::map<std::string, PythonEntry> entries;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');) fields.push_back(field);
        if (fields.size() == 5) fields.emplace_back();  // empty contents
        if (fields.size() != 6) return std::nullopt;
        PythonEntry entry;
        entry.method = std::stoi(fields[1]);
        entry.flags = std::stoi(fields[2]);
        entry.mode = static_cast<std::uint32_t>(std::stoul(fields[3], nullptr, 8));
        entry.system = std::stoi(fields[4]);
        if (fields[5] != "-") entry.data = fromHex(fields[5]);
        entries[fromHex(fields[0])] = entry;
    }
    return entries;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::filesystem::path& path, const std::string& contents) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

std::size_t findInFile(const std::filesystem::path& path, const std::string& bytes) {
    const auto position = readFile(path).find(bytes);
    if (position == std::string::npos) throw std::runtime_error("bytes not found in " + path.string());
    return position;
}

void patchFile(const std::filesystem::path& path, std::size_t offset, const std::string& bytes) {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string noisyText(std::size_t size, std::uint32_t seed) {
    std::string text(size, ' ');
    std::uint32_t state = seed * 2654435761u + 1u;
    for (auto& c : text) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>('a' + (state >> 24) % 26);
    }
    return text;
}

std::chrono::system_clock::time_point localTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm components{};
    components.tm_year = year - 1900;
    components.tm_mon = month - 1;
    components.tm_mday = day;
    components.tm_hour = hour;
    components.tm_min = minute;
    components.tm_sec = second;
    components.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&components));
}

std::chrono::system_clock::time_point modificationTime(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) throw std::runtime_error("cannot stat " + path.string());
    return std::chrono::system_clock::from_time_t(info.st_mtim.tv_sec);
}

}  // namespace ambrell::test
