// The example host: what an app on Linux does with AmbrellCore. It loads the
// sample solution through the SDK's entry object, prints what it loaded, runs
// a few searches and finds offline routes between two floors; with --map it
// also draws a picture of the map through the cairo example adapter.
//
//   ambrell-host                the sample offline, from the app's bundled
//                               resources; no request leaves the machine
//   ambrell-host --serve        the sample served by a web service on loopback:
//                               loads from it, then synchronises the data set
//                               (progress bar on a terminal)
//   ambrell-host --sample DIR   another variant of the sample, written by
//                               examples/sample-solution/generate.py --out DIR
//   ambrell-host --map FILE     also the busiest floor of the largest building,
//                               with a route between two rooms, as a PNG
//
// Everything goes to a fresh container folder that is removed at the end.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <fmt/format.h>

#include "Ambrell/AmbrellShared.h"
#include "Ambrell/CVDataSetCacheManager.h"
#include "Ambrell/CVLocationSource.h"
#include "Ambrell/CVVenue.h"
#include "HostReport.h"
#include "MapPicture.h"
#include "RouteReport.h"
#include "core/CVAmbrell.h"
#include "platform/Coordinate.h"
#include "platform/FileSystem.h"
#include "platform/Logger.h"
#include "platform/Paths.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/Runtime.h"
#include "tests/support/SampleSolutionService.h"

namespace ambrell::host {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
    bool help = false;
    bool serve = false;
    bool verbose = false;
    fs::path sample = AMBRELL_SAMPLE_SOLUTION_DIR;
    std::optional<fs::path> map;
};

constexpr std::string_view kUsage =
    "usage: ambrell-host [--serve] [--sample DIR] [--map FILE] [--verbose] [--help]\n"
    "  (no option)   load the sample solution offline from the bundled resources\n"
    "  --serve       serve the sample on loopback, load from it, synchronise the data set\n"
    "  --sample DIR  a variant written by examples/sample-solution/generate.py --out DIR\n"
    "  --map FILE    draw the busiest floor of the largest building, with a route, into a PNG\n"
    "  --verbose     show the SDK's log as it comes, not only a count of its errors\n";

// A command line the host does not understand: the usage follows its message.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The picture is written only after the whole report, so a folder it cannot
// go into is refused before anything starts.
void checkMapFolder(const fs::path& map) {
    const auto folder = map.parent_path();
    if (::access(folder.c_str(), W_OK) != 0) {
        throw std::runtime_error(
            fmt::format("the map picture cannot be written into {}: {}", folder.string(), std::strerror(errno)));
    }
}

Options parse(int argc, char** argv) {
    Options options;
    // Made absolute at once: a path means the folder the host was started
    // in, whatever later changes the working folder.
    const auto pathAfter = [&](int& i, std::string_view option) {
        if (i + 1 == argc || *argv[i + 1] == '\0') throw UsageError(fmt::format("option '{}' needs a value", option));
        return fs::absolute(argv[++i]);
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--serve") {
            options.serve = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--sample") {
            options.sample = pathAfter(i, arg);
        } else if (arg == "--map") {
            options.map = pathAfter(i, arg);
            checkMapFolder(*options.map);
        } else {
            throw UsageError(fmt::format("unknown option '{}'", arg));
        }
    }
    return options;
}

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string megabytes(std::uint64_t bytes) { return fmt::format("{:.1f} MB", static_cast<double>(bytes) / 1e6); }

// The app's container: a fresh folder of its own, gone at the end.
class Container {
public:
    Container() {
        std::string name = (fs::temp_directory_path() / "ambrell-host-XXXXXX").string();
        if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("no container folder could be made");
        path_ = name;
    }
    ~Container() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    Container(const Container&) = delete;
    Container& operator=(const Container&) = delete;

    [[nodiscard]] const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// A loopback port that refuses every connection: bound, never listening. The
// offline run points the web service here, so each request fails at once
// and nothing leaves the machine.
class RefusingPort {
public:
    RefusingPort() : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (socket_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("no loopback port could be reserved");
        }
        url_ = fmt::format("http://127.0.0.1:{}/", ntohs(address.sin_port));
    }
    ~RefusingPort() { ::close(socket_); }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    [[nodiscard]] const std::string& url() const { return url_; }

private:
    int socket_;
    std::string url_;
};

// Keeps the SDK's errors for the end (offline, every refused request is one)
// instead of mixing them into the report; --verbose shows the whole log as it
// comes.
class QuietLog : public platform::LogSink {
public:
    void write(platform::LogLevel level, std::string_view channel, std::string_view message) override {
        if (level != platform::LogLevel::error) return;
        std::lock_guard lock(mutex_);
        errors_.push_back(fmt::format("[{}] {}", channel, message));
    }
    [[nodiscard]] std::vector<std::string> errors() const {
        std::lock_guard lock(mutex_);
        return errors_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> errors_;
};

// Shows a synchronisation as it runs: on a terminal a bar of the bytes the
// data set holds on disk against what the web service estimated, redrawn
// while it runs; otherwise one line as it starts and one as it ends.
class SyncProgress : public CVDataSetCacheManagerDelegate {
public:
    explicit SyncProgress(fs::path dataSetsFolder)
        : dataSetsFolder_(std::move(dataSetsFolder)), terminal_(::isatty(STDOUT_FILENO) == 1) {}
    ~SyncProgress() override { stopDrawing(); }

    void dataSetManagerWillStartSynchronizingDataSet(CVDataSetCacheManager& /*manager*/,
                                                     const std::shared_ptr<CVDataSetCache>& dataSet) override {
        started_ = Clock::now();
        const auto estimate = dataSet->syncSize();
        std::cout << fmt::format("Synchronising the data set \"{}\": about {}\n", dataSet->name(), megabytes(estimate))
                  << std::flush;
        if (!terminal_) return;
        stopDrawing();
        std::lock_guard lock(mutex_);
        stop_ = false;
        drawer_ = std::thread([this, folder = dataSetsFolder_ / dataSet->dataSetId(), estimate] {
            // What the load already put there is not downloaded again.
            const auto before = bytesIn(folder);
            std::unique_lock lock(mutex_);
            while (!stop_) {
                draw(bytesIn(folder), before, estimate);
                wake_.wait_for(lock, std::chrono::milliseconds(100));
            }
        });
    }

    void dataSetManagerDidFinishSynchronizingDataSet(CVDataSetCacheManager& /*manager*/,
                                                     const std::shared_ptr<CVDataSetCache>& dataSet) override {
        stopDrawing();
        if (terminal_) std::cout << "\r\033[K";
        const auto error = dataSet->syncResult();
        std::cout << fmt::format("Synchronised \"{}\" in {:.2f} s: {} on disk{}\n", dataSet->name(),
                                 secondsSince(started_), megabytes(dataSet->cachedSize()),
                                 error ? ", with an error: " + error->localizedDescription() : std::string())
                  << std::flush;
    }

private:
    static std::uint64_t bytesIn(const fs::path& folder) {
        std::uint64_t bytes = 0;
        std::error_code error;
        for (fs::recursive_directory_iterator entry(folder, error), end; !error && entry != end;
             entry.increment(error)) {
            std::error_code sizeError;
            if (entry->is_regular_file(sizeError)) bytes += entry->file_size(sizeError);
        }
        return bytes;
    }

    static void draw(std::uint64_t bytes, std::uint64_t before, std::uint64_t estimate) {
        constexpr int kWidth = 40;
        // The tile package is unpacked, so the folder may outgrow the estimate.
        const double done =
            estimate <= before
                ? 0.0
                : std::clamp(static_cast<double>(bytes - std::min(bytes, before)) / (estimate - before), 0.0, 1.0);
        const int filled = static_cast<int>(done * kWidth);
        std::cout << fmt::format("\r  [{}{}] {:3.0f}%  {}", std::string(filled, '#'), std::string(kWidth - filled, '.'),
                                 done * 100, megabytes(bytes))
                  << std::flush;
    }

    void stopDrawing() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (drawer_.joinable()) drawer_.join();
    }

    const fs::path dataSetsFolder_;
    const bool terminal_;
    Clock::time_point started_ = Clock::now();
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread drawer_;
};

// Locations of the host's own (a coffee cart, a shuttle), searched with the
// solution's once registered. They never change here, so the observers are
// only kept, never told anything.
class HostLocations : public CVLocationSource {
public:
    explicit HostLocations(std::vector<std::shared_ptr<CVLocation>> locations) : locations_(std::move(locations)) {}

    [[nodiscard]] std::vector<std::shared_ptr<CVLocation>> getLocations() const override { return locations_; }
    [[nodiscard]] CVLocationSourceStatus getStatus() const override { return CVLocationSourceStatus::available; }
    void addLocationsObserver(const std::shared_ptr<CVLocationsObserver>& observer) override {
        std::lock_guard lock(mutex_);
        std::erase_if(observers_, [](const auto& known) { return known.expired(); });
        if (std::none_of(observers_.begin(), observers_.end(),
                         [&](const auto& known) { return known.lock() == observer; })) {
            observers_.push_back(observer);
        }
    }
    void removeLocationsObserver(const std::shared_ptr<CVLocationsObserver>& observer) override {
        std::lock_guard lock(mutex_);
        std::erase_if(observers_, [&](const auto& known) { return known.expired() || known.lock() == observer; });
    }

private:
    const std::vector<std::shared_ptr<CVLocation>> locations_;
    std::mutex mutex_;
    std::vector<std::weak_ptr<CVLocationsObserver>> observers_;
};

// Two locations of the host's own beside the first venue's centre, made from
// location updates.
std::shared_ptr<HostLocations> hostLocations(AmbrellShared& sdk) {
    const auto venues = answerOf<std::vector<std::shared_ptr<CVVenue>>>(
        "The venue list", [&](auto done) { sdk.venuesWithCompletionHandler(done); });
    CLLocationCoordinate2D centre{};
    if (!venues.empty() && venues.front()->getAnchor()) {
        centre = {venues.front()->getAnchor()->latitude(), venues.front()->getAnchor()->longitude()};
    }
    const auto factory = CVAmbrell::createLocationUpdateFactory();
    auto cart = factory.updateWithId("host-coffee-cart")
                    .name("Coffee cart")
                    .type("Kitchen")
                    .categories({"food"})
                    .position({centre.latitude + 0.0002, centre.longitude})
                    .addPropertyWithType("description", "Espresso by the main entrance")
                    .build();
    auto shuttle = factory.updateWithId("host-shuttle")
                       .name("Campus shuttle")
                       .type("Parking")
                       .position({centre.latitude - 0.0003, centre.longitude + 0.0004})
                       .build();
    return std::make_shared<HostLocations>(
        std::vector<std::shared_ptr<CVLocation>>{cart->location(), shuttle->location()});
}

// The key a host passes is its solution's; the bundled snapshot names it.
std::string bundledSolutionId(const fs::path& bundle) {
    const auto text = platform::readTextFile(bundle / "res" / "ax_sync_solutionid.json");
    if (!text) throw std::runtime_error("the sample has no bundled snapshot in " + bundle.string());
    return std::string(boost::json::parse(*text).at("solutionId").as_string());
}

void load(AmbrellShared& sdk, const std::string& key) {
    const auto started = Clock::now();
    const auto error =
        answerOf<std::optional<platform::NSError>>("The load", [&](auto done) { sdk.load(key, std::nullopt, done); });
    if (error) throw std::runtime_error("the load failed: " + error->localizedDescription());
    std::cout << fmt::format("Loaded solution {} in {:.2f} s (SDK {})", key, secondsSince(started), sdk.sdkVersion())
              << std::endl;
}

// Makes the current key's data set keep everything, map tiles too, and
// brings it up to date, showing the progress.
void synchronize(AmbrellShared& sdk) {
    const auto manager = sdk.dataSetCacheManager();
    const auto dataSet = manager ? manager->dataSetForCurrentAmbrellAPIKey() : nullptr;
    if (!dataSet) throw std::runtime_error("the loaded solution has no data set");
    manager->setCachingScope(rawValue(CVDataSetCachingScope::full), dataSet->cacheItem());

    // The estimate first, so the bar has something to fill.
    class SizesFetched : public CVDataSetCacheManagerSizeDelegate {
    public:
        void dataSetManagerDidFinishFetchingSyncSizes(CVDataSetCacheManager& /*manager*/) override {
            if (!done.exchange(true)) fetched.set_value();
        }
        std::atomic<bool> done{false};
        std::promise<void> fetched;
    };
    const auto sizes = std::make_shared<SizesFetched>();
    auto fetched = sizes->fetched.get_future();
    manager->fetchSyncSizesForDataSetCaches({dataSet}, sizes);
    if (fetched.wait_for(kAnswerBound) != std::future_status::ready) {
        throw std::runtime_error("the data set's size did not come");
    }

    const auto progress = std::make_shared<SyncProgress>(platform::Paths::caches() / "datasets");
    manager->setDelegate(progress);
    answerOf<std::optional<platform::NSError>>("The synchronisation",
                                               [&](auto done) { manager->synchronizeContent(done); });
    manager->setDelegate(nullptr);
    if (const auto error = dataSet->syncResult()) {
        throw std::runtime_error("the synchronisation failed: " + error->localizedDescription());
    }
}

// The sample holds only documents. A load first checks the key and asks the
// key's gateway for a session token, so the service answers those too, as the
// web service would: the key is good and the session needs no sign-in.
void answerKeyCheckAndSession(test::SampleSolutionService& service) {
    const std::string gateway = "/" + service.solutionId() + "/api";
    service.web().respond(gateway + "/validateapikey", {200, "{}", {}});
    service.web().respond(gateway, {200, R"({"sessionToken":"loopback-session","authRequired":false})", {}});
}

// The host's work, on a thread of its own while the main thread runs the main queue.
void run(const Options& options) {
    std::unique_ptr<test::SampleSolutionService> service;
    std::unique_ptr<RefusingPort> refusing;
    std::string key;
    if (options.serve) {
        service = std::make_unique<test::SampleSolutionService>(options.sample);
        ::setenv("AMBRELL_API", service->baseUrl().c_str(), 1);
        key = service->solutionId();
        answerKeyCheckAndSession(*service);
        std::cout << fmt::format("Serving {} at {}", options.sample.string(), service->baseUrl()) << std::endl;
    } else {
        refusing = std::make_unique<RefusingPort>();
        ::setenv("AMBRELL_API", refusing->url().c_str(), 1);
        // The app carries the snapshot of its solution.
        platform::Paths::setResourcesFolder(options.sample / "bundle");
        key = bundledSolutionId(options.sample / "bundle");
        std::cout << fmt::format("Offline, from the resources in {}", (options.sample / "bundle").string())
                  << std::endl;
    }

    const auto sdk = CVAmbrell::shared();
    sdk->setEventLoggingDisabled(true);
    load(*sdk, key);
    if (options.serve) synchronize(*sdk);

    // Held weakly by the SDK: the host keeps its source alive.
    const auto own = hostLocations(*sdk);
    const auto registered = answerOf<std::optional<platform::NSError>>(
        "The registration", [&](auto done) { sdk->registerLocationSources({own}, done); });
    if (registered)
        throw std::runtime_error("the host's locations were refused: " + registered->localizedDescription());
    std::cout << fmt::format("Registered {} locations of the host's own", own->getLocations().size()) << std::endl;
    std::cout << '\n';
    printSummary(*sdk, std::cout);
    std::cout << std::endl;
    printSearches(*sdk, std::cout);
    std::cout << std::endl;
    printDisplayRules(*sdk, std::cout);
    std::cout << std::endl;
    printOfflineRoutes(std::cout);
    if (options.map) {
        std::cout << std::endl;
        writeMapPicture(*sdk, *options.map, std::cout);
    }
    std::cout << std::flush;

    answerOf<std::optional<platform::NSError>>("The reset", [&](auto done) { sdk->reset(done); });
}

}  // namespace
}  // namespace ambrell::host

int main(int argc, char** argv) {
    using namespace ambrell;
    std::optional<host::Options> options;
    try {
        options = host::parse(argc, argv);
    } catch (const host::UsageError& error) {
        std::cerr << "ambrell-host: " << error.what() << '\n' << host::kUsage;
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "ambrell-host: " << error.what() << '\n';
        return 1;
    }
    if (options->help) {
        std::cout << host::kUsage;
        return 0;
    }
    const auto log = std::make_shared<host::QuietLog>();
    if (!options->verbose) platform::Logger::setSink(log);

    int status = 0;
    {
        const host::Container container;
        platform::Paths::setContainerRoot(container.path());

        // The main thread runs the main queue, as an app's does; the host's
        // work waits for the SDK's answers on a thread of its own.
        std::thread work([&] {
            try {
                host::run(*options);
            } catch (const std::exception& error) {
                std::cerr << "ambrell-host: " << error.what() << '\n';
                status = 1;
            }
            // Posted, so that the loop stops only once it runs.
            platform::MainQueue::shared().async([] { platform::MainQueue::shared().stop(); });
        });
        platform::MainQueue::shared().run();
        work.join();
        platform::Runtime::shared().shutdown();
    }
    const auto errors = log->errors();
    if (status != 0) {
        for (const auto& error : errors) std::cerr << error << '\n';
    } else if (!errors.empty()) {
        std::cout << fmt::format("\n(The SDK logged {} errors on the way; --verbose shows its log.)\n", errors.size());
    }
    return status;
}
