#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace ambrell {

// What the content models ask of the data-set cache manager, which sits above
// them: where a URL's content is kept on disk. The manager installs itself
// when it comes to life; until then nothing is cached anywhere.
class CVDataSetCachedFiles {
public:
    virtual ~CVDataSetCachedFiles() = default;

    // The file holding the URL's content in the data set, when it exists.
    [[nodiscard]] virtual std::optional<std::filesystem::path> pathForCachedUrl(std::string_view url,
                                                                                std::string_view dataSetId) const = 0;
    // Where the URL's content is kept in the data set, whether or not the file
    // exists yet; absent for a URL or id that names no file of the data set.
    // Absent unless overridden: a folder-less stand-in caches nothing.
    [[nodiscard]] virtual std::optional<std::filesystem::path> pathForCachingUrl(std::string_view url,
                                                                                 std::string_view dataSetId) const {
        (void)url;
        (void)dataSetId;
        return std::nullopt;
    }
    // The id of the current API key's data set, when it has one; absent
    // unless overridden.
    [[nodiscard]] virtual std::optional<std::string> currentDataSetId() const { return std::nullopt; }
};

class CVDataSetSeams {
public:
    CVDataSetSeams() = delete;

    // Null removes the installed one.
    static void setCachedFiles(std::shared_ptr<const CVDataSetCachedFiles> cachedFiles);

    // Absent while nothing is installed.
    [[nodiscard]] static std::optional<std::filesystem::path> pathForCachedUrl(std::string_view url,
                                                                               std::string_view dataSetId);

    // Absent while nothing is installed.
    [[nodiscard]] static std::optional<std::filesystem::path> pathForCachingUrl(std::string_view url,
                                                                                std::string_view dataSetId);

    // Absent while nothing is installed.
    [[nodiscard]] static std::optional<std::string> currentDataSetId();

    // Test-only.
    static void resetForTesting();
};

}  // namespace ambrell
