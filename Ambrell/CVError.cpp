#include "Ambrell/CVError.h"

namespace ambrell {

namespace {

struct CaseText {
    std::string_view name;
    const char* description;  // what() hands it out, so it must outlive every error
};

std::optional<CaseText> textOf(CVErrorCase errorCase) noexcept {
    switch (errorCase) {
        case CVErrorCase::invalidApiKey: return CaseText{"invalidApiKey", "CVError.invalidApiKey (0)"};
        case CVErrorCase::missingUrl: return CaseText{"missingUrl", "CVError.missingUrl (1)"};
        case CVErrorCase::routeNotFound: return CaseText{"routeNotFound", "CVError.routeNotFound (2)"};
        case CVErrorCase::invalidRouteQuery: return CaseText{"invalidRouteQuery", "CVError.invalidRouteQuery (3)"};
        case CVErrorCase::imageNotFound: return CaseText{"imageNotFound", "CVError.imageNotFound (4)"};
        case CVErrorCase::subscriptionUnavailable:
            return CaseText{"subscriptionUnavailable", "CVError.subscriptionUnavailable (5)"};
        case CVErrorCase::requestFailed: return CaseText{"requestFailed", "CVError.requestFailed (6)"};
        case CVErrorCase::downloadFailed: return CaseText{"downloadFailed", "CVError.downloadFailed (7)"};
        case CVErrorCase::categoriesUnavailable:
            return CaseText{"categoriesUnavailable", "CVError.categoriesUnavailable (8)"};
        case CVErrorCase::dataUnavailable: return CaseText{"dataUnavailable", "CVError.dataUnavailable (10)"};
    }
    // A value cast from an int that names no case.
    return std::nullopt;
}

}  // namespace

std::string_view name(CVErrorCase errorCase) noexcept {
    const auto text = textOf(errorCase);
    return text ? text->name : std::string_view{"unknown"};
}

std::optional<CVError> CVError::fromRawValue(int rawValue) noexcept {
    const auto errorCase = static_cast<CVErrorCase>(rawValue);
    if (!textOf(errorCase)) return std::nullopt;
    return CVError(errorCase);
}

const char* CVError::what() const noexcept {
    const auto text = textOf(errorCase_);
    return text ? text->description : "CVError.unknown";
}

}  // namespace ambrell
