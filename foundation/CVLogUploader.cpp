#include "foundation/CVLogUploader.h"

#include <boost/url/parse.hpp>
#include <boost/url/url.hpp>
#include <optional>
#include <system_error>

#include "Ambrell/CVError.h"
#include "Ambrell/CVLog.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVDataProvider.h"
#include "foundation/CVFileCache.h"
#include "foundation/CVLogPackage.h"
#include "platform/TextEncoding.h"
#include "platform/http/HttpTypes.h"
#include "platform/runtime/Cancellation.h"
#include "platform/runtime/TaskGroup.h"

namespace ambrell {

namespace {

using platform::Awaitable;

bool isUsableUrl(const std::string& url) {
    if (url.empty()) return false;
    return boost::urls::parse_absolute_uri(url).has_value();
}

bool failsTheUpload(int status) { return status == 403 || status == 404 || status >= 500; }

// A 2xx took the package; any other 4xx refuses it for good, so sending it
// again only repeats the refusal. 403 may pass once the key is allowed again,
// a 3xx comes from something in between (a captive portal answers 302), and
// 5xx is the service's own trouble: those packages wait for a later run.
bool letsThePackageGo(int status) {
    return (status >= 200 && status <= 299) || (status >= 400 && status <= 499 && status != 403);
}

// The HTTP layer follows redirects, so a captive portal's 302 comes back as
// the portal page's own 200: only the URL that answered shows the difference.
bool answeredElsewhere(const std::string& requested, const std::string& answered) {
    if (answered.empty() || answered == requested) return false;
    auto requestedUrl = boost::urls::parse_absolute_uri(requested);
    auto answeredUrl = boost::urls::parse_absolute_uri(answered);
    if (!requestedUrl || !answeredUrl) return true;
    boost::urls::url left(*requestedUrl);
    boost::urls::url right(*answeredUrl);
    left.normalize();
    right.normalize();
    return left.buffer() != right.buffer();
}

Awaitable<void> uploadFile(std::filesystem::path path, std::string apiKey,
                           std::shared_ptr<CVLogUploader::SentFiles> sent) {
    co_await platform::checkCancellation();
    std::error_code existsError;
    if (!std::filesystem::exists(path, existsError)) co_return;

    const std::string url = CVAXAPI::sharedInstance()->loggingUrl(apiKey);
    if (!isUsableUrl(url)) co_return;

    CVLog::core().debug("CVLogUploader starting upload of file {}", path.string());
    auto result = co_await CVDataProvider::uploadContentsofFile(path, url);

    const std::optional<int> status =
        result.response ? std::optional<int>(result.response->statusCode) : std::optional<int>();
    const bool redirected = result.response && answeredElsewhere(url, result.response->url);
    if (!status || redirected || !letsThePackageGo(*status)) {
        if (redirected) {
            CVLog::core().debug("CVLogUploader kept {}: the answer came from {}", path.string(), result.response->url);
            co_return;
        }
        if (status && failsTheUpload(*status)) throw CVError(CVErrorCase::requestFailed);
        CVLog::core().debug("CVLogUploader kept {} after status code {}", path.string(),
                            status ? std::to_string(*status) : std::string("none"));
        co_return;
    }

    if (sent) sent->add(path);

    std::error_code removeError;
    std::filesystem::remove(path, removeError);
    if (removeError)
        throw std::filesystem::filesystem_error("CVLogUploader cannot delete an uploaded package", path, removeError);

    CVLog::core().debug("CVLogUploader finished upload of {} with status code {}", path.string(), *status);
    if (result.data) {
        std::string body(result.data->begin(), result.data->end());
        if (!platform::isValidUTF8(body)) body.clear();
        CVLog::core().debug("Response body: " + body);
    }
    // The package is gone, yet the run still reports the failure it always
    // has, so its caller stops sending the rest to an endpoint that is missing.
    if (failsTheUpload(*status)) throw CVError(CVErrorCase::requestFailed);
}

}  // namespace

void CVLogUploader::SentFiles::add(std::filesystem::path path) {
    std::lock_guard lock(mutex_);
    paths_.push_back(std::move(path));
}

std::vector<std::filesystem::path> CVLogUploader::SentFiles::paths() const {
    std::lock_guard lock(mutex_);
    return paths_;
}

Awaitable<void> CVLogUploader::upload(std::vector<std::filesystem::path> files, std::string apiKey,
                                      std::shared_ptr<SentFiles> sent) {
    std::vector<platform::ChildTask<void>> children;
    for (auto& file : files) {
        if (!CVLogPackage::isPackageFileOfApiKey(file.string(), apiKey)) continue;
        children.emplace_back([file = std::move(file), apiKey, sent] { return uploadFile(file, apiKey, sent); });
    }
    co_await platform::runTaskGroup<void>(std::move(children));
}

void CVLogRemover::remove(const std::vector<std::string>& files, const std::filesystem::path& folder,
                          std::string_view apiKey) {
    for (const auto& name : files) {
        if (!CVFileCache::isPlainFilename(name)) {
            CVLog::core().error("CVLogRemover skips \"{}\", which is not a file name of the log folder", name);
            continue;
        }
        if (!CVLogPackage::isPackageFileOfApiKey(name, apiKey)) continue;
        std::error_code ignored;
        std::filesystem::remove(folder / name, ignored);
    }
}

}  // namespace ambrell
