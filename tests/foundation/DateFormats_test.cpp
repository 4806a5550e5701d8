#include "foundation/DateFormats.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <locale>

#include "tests/support/TempDirectory.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace ambrell {
namespace {

using namespace std::chrono;
using TimePoint = system_clock::time_point;

TimePoint at(year_month_day date, hours h = hours{0}, minutes m = minutes{0}, seconds s = seconds{0},
             nanoseconds fraction = nanoseconds{0}) {
    return sys_days{date} + h + m + s + fraction;
}

const struct {
    TimePoint date;
    const char *http, *iso;
} kWritten[] = {
    {at(1970y / January / 1), "Thu, 01 Jan 1970 00:00:00 GMT", "1970-01-01T00:00:00.000Z"},
    {at(2024y / February / 29, 23h, 59min, 59s, 999ms), "Thu, 29 Feb 2024 23:59:59 GMT", "2024-02-29T23:59:59.999Z"},
    // Truncated to the millisecond, never rounded up.
    {at(2000y / March / 5, 7h, 8min, 9s, 123'999'999ns), "Sun, 05 Mar 2000 07:08:09 GMT", "2000-03-05T07:08:09.123Z"},
    // Before 1970 the second is the one that started before the instant.
    {at(1969y / December / 31, 23h, 59min, 59s, 500ms), "Wed, 31 Dec 1969 23:59:59 GMT", "1969-12-31T23:59:59.500Z"},
    {at(1800y / June / 20), "Fri, 20 Jun 1800 00:00:00 GMT", "1800-06-20T00:00:00.000Z"},
    {at(2200y / October / 1, 1h, 2min, 3s, 4ms), "Wed, 01 Oct 2200 01:02:03 GMT", "2200-10-01T01:02:03.004Z"},
};

void expectFormatsAndRoundTrips() {
    for (const auto& [date, http, iso] : kWritten) {
        SCOPED_TRACE(iso);
        EXPECT_EQ(cv_asHTTPDate(date), http);
        EXPECT_EQ(cv_asUtcIso8601(date), iso);
        EXPECT_EQ(cv_fromHTTPDate(http), floor<seconds>(date));
        EXPECT_EQ(cv_fromUtcIso8601(iso), floor<milliseconds>(date));
    }
    // Every day and month name over two years, both ways.
    for (auto day = sys_days{2023y / January / 1}; day < sys_days{2025y / January / 1}; day += days{1}) {
        const TimePoint date = day + 13h + 37min + 42s + 250ms;
        const auto http = cv_asHTTPDate(date);
        const auto iso = cv_asUtcIso8601(date);
        ASSERT_EQ(http.size(), 29u) << http;
        ASSERT_EQ(iso.size(), 24u) << iso;
        ASSERT_EQ(cv_fromHTTPDate(http), day + 13h + 37min + 42s) << http;
        ASSERT_EQ(cv_fromUtcIso8601(iso), date) << iso;
    }
}

TEST(DateFormats, WritesFixedEnglishFormatsAndReadsThemBack) { expectFormatsAndRoundTrips(); }

// Under a German locale built for the test, so names and digits cannot come from the process locale without it
// showing.
TEST(DateFormats, FormatsAndParsesTheSameTextsUnderAGermanLocale) {
    const test::TempDirectory locales("ambrell-locale");
    const auto command = "localedef -i de_DE -f UTF-8 '" + (locales / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "localedef cannot build de_DE here";
    ::setenv("LOCPATH", locales.path().c_str(), 1);
    ::setenv("LC_ALL", "de_DE.UTF-8", 1);
    struct Restore {
        ~Restore() {
            std::locale::global(std::locale::classic());
            std::setlocale(LC_ALL, "C");
            ::unsetenv("LC_ALL");
            ::unsetenv("LOCPATH");
        }
    } restore;
#if defined(__SANITIZE_ADDRESS__)
    // The C library keeps the locale search path it parses for the
    // process's life; that is not ours to free.
    __lsan_disable();
#endif
    const bool loaded = std::setlocale(LC_ALL, "") != nullptr;
    if (loaded) std::locale::global(std::locale(""));
#if defined(__SANITIZE_ADDRESS__)
    __lsan_enable();
#endif
    if (!loaded) GTEST_SKIP() << "de_DE.UTF-8 cannot be loaded";
    // The locale really is German: the C library names Thursday, the first day of 1970, "Do".
    const std::time_t epoch = 0;
    char name[16] = {};
    std::strftime(name, sizeof(name), "%a", std::gmtime(&epoch));
    ASSERT_STREQ(name, "Do");

    expectFormatsAndRoundTrips();
}

TEST(DateFormats, NormalisesUtcIso8601ToMilliseconds) {
    const std::pair<const char*, const char*> cases[] = {
        {"2024-03-05T07:08:09Z", "2024-03-05T07:08:09.000Z"},
        {"2024-03-05T07:08:09", "2024-03-05T07:08:09.000Z"},
        {"2024-03-05T07:08:09.5Z", "2024-03-05T07:08:09.500Z"},
        {"2024-03-05T07:08:09.25Z", "2024-03-05T07:08:09.250Z"},
        {"2024-03-05T07:08:09.123", "2024-03-05T07:08:09.123Z"},
        {"Z2024-03-05T07:08:09ZZ", "2024-03-05T07:08:09.000Z"},
        {"", ".000Z"},
        {"ZZZ", ".000Z"},
        // 24 characters or longer: unchanged.
        {"2024-03-05T07:08:09.123Z", "2024-03-05T07:08:09.123Z"},
        {"2024-03-05T07:08:09.1234Z", "2024-03-05T07:08:09.1234Z"},
    };
    for (const auto& [text, normalized] : cases) EXPECT_EQ(cv_normalizedUtcIso8601(text), normalized) << text;
}

TEST(DateFormats, ReadsUtcIso8601Variants) {
    const TimePoint second = at(2024y / March / 5, 7h, 8min, 9s);
    const std::pair<const char*, TimePoint> cases[] = {
        {"2024-03-05T07:08:09Z", second},
        {"2024-03-05T07:08:09", second},
        {"2024-03-05T07:08:09.000Z", second},
        {"2024-03-05T07:08:09.5Z", second + 500ms},
        {"2024-03-05T07:08:09.123456Z", second + 123ms},
        {"2024-03-05T07:08:09.Z", second},  // normalisation supplies the digits
        {"2024-03-05T09:08:09.000+02:00", second},
        {"2024-03-05T02:38:09.000-04:30", second},
        {"1970-01-01T00:00:00.001Z", TimePoint{} + 1ms},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(cv_fromUtcIso8601(text), expected) << text;

    const char* const rejected[] = {
        "",
        "not a date",
        "2024-03-05T07:08Z",
        "2024-03-05 07:08:09Z",
        "2024-3-05T07:08:09Z",
        "2024-13-05T07:08:09Z",
        "2024-02-30T07:08:09Z",
        "2024-03-05T24:00:00Z",
        "2024-03-05T07:08:60Z",
        "2024-03-05T07:08:09.12aZ",
        "2024-03-05T07:08:09+02:00",  // an offset needs a fraction
        "2024-03-05T07:08:09.000+24:00",
        "2024-03-05T07:08:09.000ZZ",
        "0000-01-01T00:00:00Z",
        // Valid dates a time point cannot hold.
        "0001-01-01T00:00:00Z",
        "9999-12-31T23:59:59.999Z",
    };
    for (const char* text : rejected) EXPECT_EQ(cv_fromUtcIso8601(text), std::nullopt) << text;
}

TEST(DateFormats, ReadsOnlyTheHttpDatePattern) {
    const TimePoint expected = at(1994y / November / 6, 8h, 49min, 37s);
    EXPECT_EQ(cv_fromHTTPDate("Sun, 06 Nov 1994 08:49:37 GMT"), expected);
    // Any weekday of the table: servers get it wrong now and then.
    EXPECT_EQ(cv_fromHTTPDate("Wed, 06 Nov 1994 08:49:37 GMT"), expected);

    const char* const rejected[] = {
        "",
        "Sunday, 06-Nov-94 08:49:37 GMT",
        "Sun, 6 Nov 1994 08:49:37 GMT",
        "sun, 06 Nov 1994 08:49:37 GMT",
        "Son, 06 Nov 1994 08:49:37 GMT",
        "Sun, 06 Nov 1994 08:49:37 UTC",
        "Sun, 06 Nov 1994 08:49:37 GMT ",
        "Sun, 06 Nov 94 08:49:37 GMT",
        "Sun, 31 Nov 1994 08:49:37 GMT",
        "Sun, 06 Nov 1994 24:00:00 GMT",
        "Sun, 06 Nov 1994 08:49:61 GMT",
        "Mon, 01 Jan 0001 00:00:00 GMT",
    };
    for (const char* text : rejected) EXPECT_EQ(cv_fromHTTPDate(text), std::nullopt) << text;
}

}  // namespace
}  // namespace ambrell
