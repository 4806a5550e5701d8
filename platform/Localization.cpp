#include "platform/Localization.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace ambrell::platform {

namespace localization_table {
namespace {

using Table = std::map<std::string, std::string, std::less<>>;

// What identifies one reading of the file: a new folder, or a file written
// since, is read again.
struct Stamp {
    std::filesystem::path file;
    std::optional<std::filesystem::file_time_type> modified;
    std::uintmax_t size = 0;

    friend bool operator==(const Stamp&, const Stamp&) = default;
};

Stamp stampOf(const std::filesystem::path& file) {
    Stamp stamp{file, std::nullopt, 0};
    std::error_code error;
    const auto modified = std::filesystem::last_write_time(file, error);
    if (error) return stamp;
    const auto size = std::filesystem::file_size(file, error);
    if (error) return stamp;
    stamp.modified = modified;
    stamp.size = size;
    return stamp;
}

std::shared_ptr<const Table> read(const Stamp& stamp) {
    auto table = std::make_shared<Table>();
    if (!stamp.modified) return table;
    const auto bytes = readFile(stamp.file);
    if (!bytes) return table;
    boost::json::error_code error;
    const auto json =
        boost::json::parse(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()), error);
    if (error || !json.is_object()) return table;
    for (const auto& [key, value] : json.get_object()) {
        if (value.is_string()) table->emplace(std::string(key), std::string(value.get_string()));
    }
    return table;
}

std::shared_ptr<const Table> current() {
    static std::mutex mutex;
    static std::optional<Stamp> readStamp;
    static std::shared_ptr<const Table> table;
    const auto stamp = stampOf(Paths::resources() / "Localizable.json");
    std::lock_guard lock(mutex);
    if (!readStamp || !(*readStamp == stamp)) {
        table = read(stamp);
        readStamp = stamp;
    }
    return table;
}

}  // namespace
}  // namespace localization_table

std::string localizedString(std::string_view key) {
    const auto table = localization_table::current();
    const auto found = table->find(key);
    return found != table->end() ? found->second : std::string(key);
}

}  // namespace ambrell::platform
