#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ambrell {

// Fills placeholders, each a name in braces ("{z}"), in a URL template, e.g.
// the tile URLs of a map style. Substitutions accumulate in resultURI() until
// resetParams(). Names and values are used as given: no escaping, no
// percent-encoding. Not thread-safe: one caller at a time.
class CVURITemplate {
public:
    explicit CVURITemplate(std::string templateString);

    // Replaces every "{name}" of the current result by the value. Text that a
    // value brings in is not searched again by this call, but later calls see
    // it. A placeholder no call fills stays in the result, braces included.
    void addParam(std::string_view name, std::string_view value);
    void addIntParam(std::string_view name, std::int32_t value);

    // The result becomes a fresh copy of the template.
    void resetParams();

    [[nodiscard]] const std::string& resultURI() const { return resultURI_; }
    [[nodiscard]] const std::string& templateURI() const { return templateURI_; }
    // Leaves the result as it is until resetParams().
    void setTemplateURI(std::string templateURI) { templateURI_ = std::move(templateURI); }

private:
    std::string resultURI_;
    std::string templateURI_;
};

}  // namespace ambrell
