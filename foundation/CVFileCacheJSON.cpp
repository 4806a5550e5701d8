#include "foundation/CVFileCacheJSON.h"

#include <string>

#include <boost/json/parse.hpp>

#include "Ambrell/CVLog.h"
#include "platform/FileSystem.h"

namespace ambrell {

namespace {

constexpr std::string_view kOperation = "-[CVFileCache(NSDictionary) dictionaryFromCachedFileForUrl:]";

// Boost.JSON stops at 32 levels by default; cached documents of the web
// service (nested geometry among them) may go deeper than that.
constexpr std::size_t kMaximumDepth = 512;

}  // namespace

std::optional<boost::json::value> dictionaryFromCachedFileForUrl(const CVFileCache& cache, std::string_view url) {
    const auto path = cache.pathForCachedItem(url);
    if (!path) return std::nullopt;
    const auto text = platform::readTextFile(*path);
    if (!text) {
        CVLog::core().error("{} [E] Failed to read cached file at {}", kOperation, path->string());
        return std::nullopt;
    }
    boost::json::parse_options options;
    options.max_depth = kMaximumDepth;
    std::error_code error;
    auto value = boost::json::parse(*text, error, {}, options);
    if (error) {
        CVLog::core().error("{} [E] Failed to load JSON from {}", kOperation, path->string());
        return std::nullopt;
    }
    return value;
}

}  // namespace ambrell
