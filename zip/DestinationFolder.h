#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "zip/UniqueFd.h"

namespace ambrell::zipio {

// The non-empty segments of a relative path.
[[nodiscard]] std::vector<std::string> pathComponents(std::string_view relativePath);

// Whether a link placed at the depth (number of folders between the
// destination and the link) with this target resolves inside the
// destination. Absolute targets never do; neither does a ".." after a
// named segment, because where it leads depends on whether that segment is
// itself a link, which later entries may change.
[[nodiscard]] bool linkTargetStaysInside(std::string_view target, std::size_t depth);

// The folder an archive is unpacked into. Everything below it is reached
// one segment at a time without following symbolic links, so an entry can
// neither create folders nor write files through a link.
class DestinationFolder {
public:
    // Creates the destination with its missing parents (links on the way to
    // it are the caller's choice and are followed) and opens it.
    [[nodiscard]] static std::unique_ptr<DestinationFolder> open(const std::filesystem::path& destination,
                                                                 std::error_code& error);

    // Creates the missing folders of the path and opens the last one;
    // createdLast tells whether this call made it.
    [[nodiscard]] UniqueFd createFolders(const std::vector<std::string>& components, bool& createdLast,
                                         std::error_code& error) const;
    // Opens an existing folder.
    [[nodiscard]] UniqueFd openFolder(const std::vector<std::string>& components, std::error_code& error) const;

private:
    explicit DestinationFolder(UniqueFd root) : root_(std::move(root)) {}
    [[nodiscard]] UniqueFd walk(const std::vector<std::string>& components, bool create, bool& createdLast,
                                std::error_code& error) const;

    UniqueFd root_;
};

// Sets the modification date (and leaves the access date) of the item in the
// folder, of a link itself rather than its target.
std::error_code setModificationDateAt(int folder, const std::string& name, std::chrono::system_clock::time_point date);
std::error_code setModificationDate(int fd, std::chrono::system_clock::time_point date);

}  // namespace ambrell::zipio
