#include "foundation/CVURITemplate.h"

#include <utility>

namespace ambrell {

CVURITemplate::CVURITemplate(std::string templateString)
    : resultURI_(templateString), templateURI_(std::move(templateString)) {}

void CVURITemplate::addParam(std::string_view name, std::string_view value) {
    std::string placeholder;
    placeholder.reserve(name.size() + 2);
    placeholder += '{';
    placeholder += name;
    placeholder += '}';

    std::string filled;
    filled.reserve(resultURI_.size());
    std::size_t from = 0;
    for (auto at = resultURI_.find(placeholder); at != std::string::npos; at = resultURI_.find(placeholder, from)) {
        filled.append(resultURI_, from, at - from);
        filled += value;
        from = at + placeholder.size();
    }
    filled.append(resultURI_, from, std::string::npos);
    resultURI_ = std::move(filled);
}

void CVURITemplate::addIntParam(std::string_view name, std::int32_t value) { addParam(name, std::to_string(value)); }

void CVURITemplate::resetParams() { resultURI_ = templateURI_; }

}  // namespace ambrell
