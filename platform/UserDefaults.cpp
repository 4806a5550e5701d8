#include "platform/UserDefaults.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <boost/json.hpp>

#include "platform/FileSystem.h"
#include "platform/Logger.h"
#include "platform/Paths.h"
#include "platform/TextEncoding.h"

namespace ambrell::platform {

namespace {

const Logger& defaultsLogger() {
    static const auto* const instance = new Logger("platform");
    return *instance;
}

// Another name in the same folder, so the move is a rename; an earlier
// corrupt copy is never overwritten.
std::error_code moveAside(const std::filesystem::path& file, std::filesystem::path& movedTo) {
    for (int attempt = 1; attempt <= 100; ++attempt) {
        auto candidate = file;
        candidate += attempt == 1 ? std::string(".corrupt") : ".corrupt." + std::to_string(attempt);
        std::error_code error;
        if (std::filesystem::exists(std::filesystem::symlink_status(candidate, error))) continue;
        std::filesystem::rename(file, candidate, error);
        if (!error) movedTo = std::move(candidate);
        return error;
    }
    return std::make_error_code(std::errc::file_exists);
}

}  // namespace

struct UserDefaults::Storage {
    boost::json::object values;
    // A change not yet on disk: set again, an equal value still gets written.
    bool unsaved = false;
    // The file could be neither read nor moved aside: writing would destroy it.
    bool writesBlocked = false;

    void load(const std::filesystem::path& file) {
        values.clear();
        unsaved = false;
        writesBlocked = false;

        std::error_code statusError;
        const auto status = std::filesystem::symlink_status(file, statusError);
        if (status.type() == std::filesystem::file_type::not_found) return;

        std::string problem;
        if (const auto text = readTextFile(file)) {
            boost::system::error_code parseError;
            auto parsed = boost::json::parse(*text, parseError);
            if (parseError) {
                problem = "invalid JSON (" + parseError.message() + ")";
            } else if (!parsed.is_object()) {
                problem = "not a JSON object";
            } else {
                values = std::move(parsed.as_object());
                return;
            }
        } else {
            problem = "unreadable";
        }

        std::filesystem::path movedTo;
        const auto error = moveAside(file, movedTo);
        if (error == std::errc::no_such_file_or_directory) return;  // removed meanwhile: nothing to keep
        if (error) {
            writesBlocked = true;
            defaultsLogger().error(
                "User defaults {} are {} and cannot be moved aside ({}); starting empty without saving", file.string(),
                problem, error.message());
            return;
        }
        defaultsLogger().error("User defaults {} are {}; moved to {}, starting empty", file.string(), problem,
                               movedTo.string());
    }

    void save(const std::filesystem::path& file) {
        if (writesBlocked) {
            defaultsLogger().error("Not saving user defaults over {}: the file could not be read nor moved aside",
                                   file.string());
            unsaved = true;
            return;
        }
        auto text = boost::json::serialize(values);
        text.push_back('\n');
        if (const auto error = writeFileAtomically(file, text)) {
            defaultsLogger().error("Cannot save user defaults to {}: {}", file.string(), error.message());
            unsaved = true;
            return;
        }
        unsaved = false;
    }

    void set(const std::filesystem::path& file, std::string_view key, boost::json::value value) {
        if (!isValidUTF8(key)) {
            defaultsLogger().error("Ignoring a user default whose key is not valid UTF-8");
            return;
        }
        const auto existing = values.find(key);
        if (existing != values.end() && existing->value() == value && !unsaved) return;
        values[key] = std::move(value);
        save(file);
    }

    [[nodiscard]] const boost::json::value* find(std::string_view key) const { return values.if_contains(key); }
};

UserDefaults::UserDefaults(std::filesystem::path file) : file_(std::move(file)), storage_(std::make_unique<Storage>()) {
    storage_->load(file_);
}

UserDefaults::~UserDefaults() = default;

namespace {

struct StandardInstance {
    std::mutex mutex;
    std::unique_ptr<UserDefaults> defaults;
};

// Never destroyed: code running in static destructors may still read a default.
StandardInstance& standardInstance() {
    static auto* const instance = new StandardInstance;
    return *instance;
}

}  // namespace

UserDefaults& UserDefaults::standard() {
    auto& instance = standardInstance();
    std::lock_guard lock(instance.mutex);
    if (!instance.defaults) instance.defaults = std::make_unique<UserDefaults>(Paths::preferences() / "standard.json");
    return *instance.defaults;
}

void UserDefaults::resetStandardForTesting() {
    auto& instance = standardInstance();
    std::unique_ptr<UserDefaults> dropped;
    std::lock_guard lock(instance.mutex);
    dropped.swap(instance.defaults);
}

void UserDefaults::setBool(std::string_view key, bool value) {
    std::lock_guard lock(mutex_);
    storage_->set(file_, key, value);
}

void UserDefaults::setInteger(std::string_view key, std::int64_t value) {
    std::lock_guard lock(mutex_);
    storage_->set(file_, key, value);
}

void UserDefaults::setDouble(std::string_view key, double value) {
    if (!std::isfinite(value)) {
        // JSON has no infinities nor NaN: the value would not read back.
        defaultsLogger().error("Ignoring the non-finite user default for {}", key);
        return;
    }
    std::lock_guard lock(mutex_);
    storage_->set(file_, key, value);
}

void UserDefaults::setString(std::string_view key, std::string_view value) {
    if (!isValidUTF8(value)) {
        defaultsLogger().error("Ignoring the user default for {}: the text is not valid UTF-8", key);
        return;
    }
    std::lock_guard lock(mutex_);
    storage_->set(file_, key, boost::json::string(value));
}

void UserDefaults::setStringArray(std::string_view key, const std::vector<std::string>& value) {
    boost::json::array array;
    array.reserve(value.size());
    for (const auto& text : value) {
        if (!isValidUTF8(text)) {
            defaultsLogger().error("Ignoring the user default for {}: a text is not valid UTF-8", key);
            return;
        }
        array.emplace_back(boost::json::string(text));
    }
    std::lock_guard lock(mutex_);
    storage_->set(file_, key, std::move(array));
}

std::optional<bool> UserDefaults::boolForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const auto* value = storage_->find(key);
    if (value == nullptr || !value->is_bool()) return std::nullopt;
    return value->get_bool();
}

std::optional<std::int64_t> UserDefaults::integerForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const auto* value = storage_->find(key);
    if (value == nullptr) return std::nullopt;
    if (value->is_int64()) return value->get_int64();
    // The parser gives the unsigned kind only to numbers above INT64_MAX.
    if (value->is_uint64() &&
        value->get_uint64() <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return static_cast<std::int64_t>(value->get_uint64());
    }
    return std::nullopt;
}

std::optional<double> UserDefaults::doubleForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const auto* value = storage_->find(key);
    if (value == nullptr) return std::nullopt;
    if (value->is_double()) return value->get_double();
    if (value->is_int64()) return static_cast<double>(value->get_int64());
    if (value->is_uint64()) return static_cast<double>(value->get_uint64());
    return std::nullopt;
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const auto* value = storage_->find(key);
    if (value == nullptr || !value->is_string()) return std::nullopt;
    return std::string(value->get_string());
}

std::optional<std::vector<std::string>> UserDefaults::stringArrayForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const auto* value = storage_->find(key);
    if (value == nullptr || !value->is_array()) return std::nullopt;
    std::vector<std::string> texts;
    texts.reserve(value->get_array().size());
    for (const auto& element : value->get_array()) {
        if (!element.is_string()) return std::nullopt;
        texts.emplace_back(element.get_string());
    }
    return texts;
}

void UserDefaults::removeObjectForKey(std::string_view key) {
    std::lock_guard lock(mutex_);
    if (storage_->values.erase(key) == 0 && !storage_->unsaved) return;
    storage_->save(file_);
}

bool UserDefaults::hasKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    return storage_->find(key) != nullptr;
}

std::vector<std::string> UserDefaults::allKeys() const {
    std::vector<std::string> keys;
    {
        std::lock_guard lock(mutex_);
        keys.reserve(storage_->values.size());
        for (const auto& entry : storage_->values) keys.emplace_back(entry.key());
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

void UserDefaults::reload() {
    std::lock_guard lock(mutex_);
    storage_->load(file_);
}

}  // namespace ambrell::platform
