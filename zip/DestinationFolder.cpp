#include "zip/DestinationFolder.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ambrell::zipio {

namespace {

std::error_code lastError() { return {errno, std::generic_category()}; }

timespec toTimespec(std::chrono::system_clock::time_point date) {
    const auto since = date.time_since_epoch();
    auto seconds = std::chrono::floor<std::chrono::seconds>(since);
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds);
    timespec result{};
    result.tv_sec = static_cast<time_t>(seconds.count());
    result.tv_nsec = static_cast<long>(nanoseconds.count());
    return result;
}

}  // namespace

std::vector<std::string> pathComponents(std::string_view relativePath) {
    std::vector<std::string> components;
    std::size_t start = 0;
    while (start <= relativePath.size()) {
        std::size_t end = relativePath.find('/', start);
        if (end == std::string_view::npos) end = relativePath.size();
        if (end > start) components.emplace_back(relativePath.substr(start, end - start));
        start = end + 1;
    }
    return components;
}

bool linkTargetStaysInside(std::string_view target, std::size_t depth) {
    if (target.empty() || target.front() == '/') return false;
    bool descended = false;
    for (const auto& segment : pathComponents(target)) {
        if (segment == ".") continue;
        if (segment == "..") {
            if (descended || depth == 0) return false;
            --depth;
        } else {
            descended = true;
        }
    }
    return true;
}

std::unique_ptr<DestinationFolder> DestinationFolder::open(const std::filesystem::path& destination,
                                                           std::error_code& error) {
    std::filesystem::create_directories(destination, error);
    if (error) return nullptr;
    UniqueFd root(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root) {
        error = lastError();
        return nullptr;
    }
    return std::unique_ptr<DestinationFolder>(new DestinationFolder(std::move(root)));
}

UniqueFd DestinationFolder::walk(const std::vector<std::string>& components, bool create, bool& createdLast,
                                 std::error_code& error) const {
    createdLast = false;
    UniqueFd current(::dup(root_.get()));
    if (!current) {
        error = lastError();
        return {};
    }
    for (const auto& component : components) {
        if (component == "." || component == ".." || component.find('\0') != std::string::npos) {
            error = std::make_error_code(std::errc::invalid_argument);
            return {};
        }
        createdLast = false;
        if (create) {
            if (::mkdirat(current.get(), component.c_str(), 0777) == 0) {
                createdLast = true;
            } else if (errno != EEXIST) {
                error = lastError();
                return {};
            }
        }
        // O_NOFOLLOW makes a link in the path fail here instead of leading
        // somewhere else.
        UniqueFd next(::openat(current.get(), component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next) {
            error = lastError();
            return {};
        }
        current = std::move(next);
    }
    error.clear();
    return current;
}

UniqueFd DestinationFolder::createFolders(const std::vector<std::string>& components, bool& createdLast,
                                          std::error_code& error) const {
    return walk(components, true, createdLast, error);
}

UniqueFd DestinationFolder::openFolder(const std::vector<std::string>& components, std::error_code& error) const {
    bool created = false;
    return walk(components, false, created, error);
}

std::error_code setModificationDateAt(int folder, const std::string& name, std::chrono::system_clock::time_point date) {
    const timespec times[2] = {{0, UTIME_OMIT}, toTimespec(date)};
    const char* target = name.empty() ? "." : name.c_str();
    if (::utimensat(folder, target, times, AT_SYMLINK_NOFOLLOW) != 0) return lastError();
    return {};
}

std::error_code setModificationDate(int fd, std::chrono::system_clock::time_point date) {
    const timespec times[2] = {{0, UTIME_OMIT}, toTimespec(date)};
    if (::futimens(fd, times) != 0) return lastError();
    return {};
}

}  // namespace ambrell::zipio
