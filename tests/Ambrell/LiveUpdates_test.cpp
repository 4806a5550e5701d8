#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <memory>
#include <string>

#include "Ambrell/CVLiveUpdate.h"

namespace ambrell::live_updates_test {
namespace {

TEST(LiveUpdates, NumbersPrintAsThePlatformPrintsDoubles) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {412, "412.0"},    {45, "45.0"},          {21.5, "21.5"},
        {0, "0.0"},        {-0.0, "-0.0"},        {0.1, "0.1"},
        {1e5, "100000.0"}, {1e16, "1e+16"},       {5e-5, "5e-05"},
        {1e-4, "0.0001"},  {-3.25, "-3.25"},      {inf, "inf"},
        {-inf, "-inf"},    {std::nan(""), "nan"}, {123456789.125, "123456789.125"},
    };
    for (const auto& c : cases) EXPECT_EQ(decimalDescription(c.value), c.text) << c.text;
    EXPECT_EQ((CVMeasurement{45, "%"}.description()), "45.0 %");
}

TEST(LiveUpdates, TypedUpdatesNameTheirDomain) {
    const auto now = std::chrono::system_clock::now();
    const std::pair<std::shared_ptr<const CVLiveUpdate>, std::string_view> updates[] = {
        {std::make_shared<CVAvailabilityLiveUpdate>(now, "a", true), "availability"},
        {std::make_shared<CVCountLiveUpdate>(now, "a", 3), "count"},
        {std::make_shared<CVCO2LiveUpdate>(now, "a", 412), "co2"},
        {std::make_shared<CVHumidityLiveUpdate>(now, "a", 45), "humidity"},
        {std::make_shared<CVOccupancyLiveUpdate>(now, "a", 2), "occupancy"},
        {std::make_shared<CVTemperatureLiveUpdate>(now, "a", 21), "temperature"},
    };
    for (const auto& [update, domain] : updates) {
        EXPECT_EQ(update->topic.domainType, std::string(domain));
        EXPECT_EQ(update->itemId, "a");
        EXPECT_EQ(update->timestamp, now);
    }
    EXPECT_EQ(CVTemperatureLiveUpdate(now, "a", 21).temperature.description(), "21.0 °C");
    EXPECT_EQ(CVHumidityLiveUpdate(now, "a", 45).relativeHumidity.description(), "45.0 %");
}

}  // namespace
}  // namespace ambrell::live_updates_test
