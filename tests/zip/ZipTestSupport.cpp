#include "tests/zip/ZipTestSupport.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include <sys/stat.h>

namespace ambrell::test {

namespace {

std::string toHex(const std::string& bytes) {
    std::string hex;
    for (const unsigned char c : bytes) hex += fmt::format("{:02x}", c);
    return hex;
}

std::string fromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

// The text as one shell word.
std::string quoted(const std::string& text) {
    std::string result = "'";
    for (const char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

}  // namespace

void writeFixtureArchive(const fs::path& archive, const std::vector<FixtureEntry>& entries) {
    const auto listing = fs::path(archive.string() + ".entries");
    {
        std::ofstream out(listing);
        for (const auto& e : entries) {
            out << fmt::format("{}\t{}\t{:o}\t{},{},{},{},{},{}\t{}\t{}\n", toHex(e.name), toHex(e.data), e.mode,
                               e.year, e.month, e.day, e.hour, e.minute, e.second, e.system,
                               e.deflate ? "deflate" : "stored");
        }
    }
    const std::string command = fmt::format("python3 {} write {} {}", quoted(AMBRELL_ZIP_FIXTURE_SCRIPT),
                                            quoted(archive.string()), quoted(listing.string()));
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    fs::remove(listing);
}

std::optional<std::map<std::string, PythonEntry>> readWithPython(const fs::path& archive,
                                                                 const std::optional<std::string>& password) {
    std::string command =
        fmt::format("python3 {} read {}", quoted(AMBRELL_ZIP_FIXTURE_SCRIPT), quoted(archive.string()));
    // Not " " + quoted(...): in that inlined operator+, g++ 12 at -O2 reports
    // an overflow that cannot happen.
    if (password) command += fmt::format(" {}", quoted(*password));
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
        std::istringstream fields(line);
        std::string name, data;
        PythonEntry entry;
        if (!(fields >> name >> entry.method >> entry.flags >> std::oct >> entry.mode >> std::dec >> entry.system)) {
            return std::nullopt;
        }
        fields >> data;  // none for empty contents
        if (data != "-") entry.data = fromHex(data);
        entries[fromHex(name)] = entry;
    }
    return entries;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

void expectFiles(const fs::path& folder, const std::map<std::string, std::string>& contents) {
    for (const auto& [name, expected] : contents) {
        ASSERT_TRUE(fs::is_regular_file(folder / name)) << name;
        EXPECT_EQ(readFile(folder / name), expected) << name;
    }
}

std::size_t findInFile(const fs::path& path, const std::string& bytes) {
    const auto position = readFile(path).find(bytes);
    if (position == std::string::npos) throw std::runtime_error("bytes not found in " + path.string());
    return position;
}

void patchFile(const fs::path& path, std::size_t offset, const std::string& bytes) {
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

std::chrono::system_clock::time_point modificationTime(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) throw std::runtime_error("cannot stat " + path.string());
    return std::chrono::system_clock::from_time_t(info.st_mtim.tv_sec);
}

}  // namespace ambrell::test
