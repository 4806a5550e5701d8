#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <system_error>

#include "data/CVDataSetSeams.h"

namespace ambrell::test {

// A data set in a folder of its own: one file per URL, named by the URL's hash.
class TempDataSet final : public CVDataSetCachedFiles {
public:
    explicit TempDataSet(std::filesystem::path folder) : folder_(std::move(folder)) {}

    [[nodiscard]] std::optional<std::filesystem::path> pathForCachingUrl(std::string_view url,
                                                                         std::string_view dataSetId) const override {
        if (dataSetId.empty()) return std::nullopt;
        return folder_ / dataSetId / std::to_string(std::hash<std::string_view>{}(url));
    }
    [[nodiscard]] std::optional<std::filesystem::path> pathForCachedUrl(std::string_view url,
                                                                        std::string_view dataSetId) const override {
        auto path = pathForCachingUrl(url, dataSetId);
        std::error_code error;
        if (!path || !std::filesystem::is_regular_file(*path, error)) return std::nullopt;
        return path;
    }

private:
    std::filesystem::path folder_;
};

}  // namespace ambrell::test
