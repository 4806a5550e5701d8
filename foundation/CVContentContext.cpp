#include "foundation/CVContentContext.h"

#include <mutex>

namespace ambrell {

namespace {

struct Readers {
    std::mutex mutex;
    CVContentContext::TextReader apiKey;
    CVContentContext::TextReader language;
    CVContentContext::UserRolesReader userRoles;
};

Readers& readers() {
    static Readers instance;
    return instance;
}

// Readers are copied out of the lock before they run, so a reader may itself
// consult the context without deadlocking.
template <typename Reader>
Reader copyOf(Reader Readers::*member) {
    auto& r = readers();
    std::lock_guard lock(r.mutex);
    return r.*member;
}

template <typename Reader>
void install(Reader Readers::*member, Reader reader) {
    auto& r = readers();
    std::lock_guard lock(r.mutex);
    r.*member = std::move(reader);
}

}  // namespace

void CVContentContext::setApiKeyReader(TextReader reader) { install(&Readers::apiKey, std::move(reader)); }
void CVContentContext::setLanguageReader(TextReader reader) { install(&Readers::language, std::move(reader)); }
void CVContentContext::setUserRolesReader(UserRolesReader reader) { install(&Readers::userRoles, std::move(reader)); }

std::optional<std::string> CVContentContext::apiKey() {
    auto reader = copyOf(&Readers::apiKey);
    return reader ? reader() : std::nullopt;
}

std::string CVContentContext::language() {
    auto reader = copyOf(&Readers::language);
    auto language = reader ? reader() : std::nullopt;
    return language.value_or("en");
}

std::vector<CVUserRole> CVContentContext::userRoles() {
    auto reader = copyOf(&Readers::userRoles);
    return reader ? reader() : std::vector<CVUserRole>{};
}

void CVContentContext::resetForTesting() {
    install(&Readers::apiKey, TextReader{});
    install(&Readers::language, TextReader{});
    install(&Readers::userRoles, UserRolesReader{});
}

}  // namespace ambrell
