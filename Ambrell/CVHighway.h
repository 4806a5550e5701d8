#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ambrell {

// Way types of the route network. The raw values are the integer `type` that
// route networks, the search engine and the weight table share.
enum class CVHighwayType : int {
    unclassified = 0,
    footway = 1,
    residential = 2,
    service = 3,
    ramp = 4,
    stairs = 5,
    escalator = 6,
    travelator = 7,
    elevator = 8,
    wheelchairramp = 9,
    wheelchairlift = 10,
    ladder = 11,
};

// A way type as a value. Two highways are equal when their types are, which
// stands in for the identity of the framework's shared per-type objects.
class CVHighway {
public:
    constexpr CVHighway() = default;
    constexpr explicit CVHighway(CVHighwayType type)
        : type_(isKnown(static_cast<int>(type)) ? type : CVHighwayType::unclassified) {}

    // 0 and 12 upwards (and negative numbers) name no way type: unclassified.
    [[nodiscard]] static constexpr CVHighway withType(long long rawType) {
        return isKnown(rawType) ? CVHighway(static_cast<CVHighwayType>(rawType)) : CVHighway();
    }

    // Reads the texts of `typeString`, ignoring ASCII case; "stairs" is taken
    // for "steps" too. Any other text is unclassified.
    [[nodiscard]] static CVHighway initWithTypeString(std::string_view typeString);

    [[nodiscard]] static constexpr CVHighway unclassified() { return CVHighway(CVHighwayType::unclassified); }
    [[nodiscard]] static constexpr CVHighway footway() { return CVHighway(CVHighwayType::footway); }
    [[nodiscard]] static constexpr CVHighway residential() { return CVHighway(CVHighwayType::residential); }
    [[nodiscard]] static constexpr CVHighway service() { return CVHighway(CVHighwayType::service); }
    [[nodiscard]] static constexpr CVHighway ramp() { return CVHighway(CVHighwayType::ramp); }
    [[nodiscard]] static constexpr CVHighway stairs() { return CVHighway(CVHighwayType::stairs); }
    [[nodiscard]] static constexpr CVHighway escalator() { return CVHighway(CVHighwayType::escalator); }
    [[nodiscard]] static constexpr CVHighway travelator() { return CVHighway(CVHighwayType::travelator); }
    [[nodiscard]] static constexpr CVHighway elevator() { return CVHighway(CVHighwayType::elevator); }
    [[nodiscard]] static constexpr CVHighway wheelchairramp() { return CVHighway(CVHighwayType::wheelchairramp); }
    [[nodiscard]] static constexpr CVHighway wheelchairlift() { return CVHighway(CVHighwayType::wheelchairlift); }
    [[nodiscard]] static constexpr CVHighway ladder() { return CVHighway(CVHighwayType::ladder); }

    [[nodiscard]] constexpr CVHighwayType type() const { return type_; }
    [[nodiscard]] constexpr int rawType() const { return static_cast<int>(type_); }

    // The route network's name of the way type ("steps" for stairs, as in the
    // network data); what requests send and what image names are made of.
    [[nodiscard]] std::string_view typeString() const;

    [[nodiscard]] static std::vector<std::string> highwaysAsStrings(std::span<const CVHighway> highways);
    [[nodiscard]] static std::vector<CVHighway> stringsAsHighways(std::span<const std::string> strings);

    friend constexpr bool operator==(const CVHighway&, const CVHighway&) = default;

private:
    static constexpr bool isKnown(long long rawType) { return rawType >= 0 && rawType <= 11; }

    CVHighwayType type_ = CVHighwayType::unclassified;
};

}  // namespace ambrell
