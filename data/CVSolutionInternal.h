#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json/object.hpp>

#include "Ambrell/CVSolutionConfig.h"
#include "Ambrell/CVVenue.h"
#include "data/CVTypeInternal.h"
#include "jsonmodel/JSONModel/JSONModel.h"

namespace ambrell {

// One solution, the customer's whole content set, as the "solutions" sync
// document gives it. "id", "name", "defaultLanguage", "availableLanguages"
// and "modules" are required. A location type that does not read is logged
// and left out; a "solutionConfig" that does not read leaves `config` unset.
class CVSolutionInternal : public JSONModelOf<CVSolutionInternal>, public CVSolution {
public:
    std::string solutionId;
    std::string name;
    std::string defaultLanguage;
    std::vector<std::string> availableLanguages;
    std::vector<std::string> modules;
    std::optional<std::string> mapClientUrl;
    std::optional<boost::json::object> positionProviderConfigs;
    bool whiteLabel = false;
    std::optional<CVSolutionConfig> config;
    // Read and written by its custom setter and getter only.
    static constexpr std::string_view kJSONCustomMembers[] = {"config"};
    std::vector<std::shared_ptr<CVTypeInternal>> types;

    static void declareJSON(JSONModelDeclaration<CVSolutionInternal>& d);
    // The types are read one by one after the rest, so one bad type does not
    // refuse the solution.
    bool initWithDictionary(const boost::json::value& dictionary, JSONModelErrorOut error = nullptr) override;

    // A backslash followed by "n" stands for a line break.
    void setNameWithNSString(std::string_view text);
    void setConfigWithJSONObject(const boost::json::value& value);
    [[nodiscard]] boost::json::value JSONObjectForConfig() const;

    // `mapClientUrl` with every "{venueId}" and "{locationId}" filled in;
    // none when either id or the template is missing.
    [[nodiscard]] std::optional<std::string> getMapClientUrlForVenueId(
        std::optional<std::string_view> venueId, std::optional<std::string_view> locationId) const;

    // The id of the solution's data set: the solution id.
    [[nodiscard]] const std::string& dataSetId() const override { return solutionId; }

    [[nodiscard]] const std::string& getSolutionId() const override { return solutionId; }
    [[nodiscard]] const std::string& getName() const override { return name; }
    [[nodiscard]] const std::string& getDefaultLanguage() const override { return defaultLanguage; }
    [[nodiscard]] const std::vector<std::string>& getAvailableLanguages() const override { return availableLanguages; }
    [[nodiscard]] const std::vector<std::string>& getModules() const override { return modules; }
    [[nodiscard]] const std::optional<std::string>& getMapClientUrl() const override { return mapClientUrl; }
    [[nodiscard]] bool getWhiteLabel() const override { return whiteLabel; }
    [[nodiscard]] const std::optional<CVSolutionConfig>& getConfig() const override { return config; }
    [[nodiscard]] std::vector<std::shared_ptr<CVType>> getTypes() const override {
        return {types.begin(), types.end()};
    }
};
BOOST_DESCRIBE_STRUCT(CVSolutionInternal, (JSONModel),
                      (solutionId, name, defaultLanguage, availableLanguages, modules, mapClientUrl,
                       positionProviderConfigs, whiteLabel, config, types))

}  // namespace ambrell
