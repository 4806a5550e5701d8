#include "foundation/DateFormats.h"

#include <array>
#include <cstdint>

namespace ambrell {

namespace {

using Clock = std::chrono::system_clock;
using std::chrono::days;
using std::chrono::milliseconds;
using std::chrono::seconds;

// The names come from these tables and never from the C or C++ locale, so a
// host running in any language writes and reads the same texts.
constexpr std::array<std::string_view, 7> kWeekdays{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct CivilTime {
    int year = 0;
    unsigned month = 0;  // 1...12
    unsigned day = 0;
    unsigned weekday = 0;  // 0 is Sunday
    unsigned hour = 0;
    unsigned minute = 0;
    unsigned second = 0;
    unsigned millisecond = 0;
};

CivilTime civilTimeOf(Clock::time_point date) {
    // floor, not a cast: an instant before 1970 belongs to the second that
    // started before it.
    const auto instant = std::chrono::floor<milliseconds>(date);
    const auto day = std::chrono::floor<days>(instant);
    const std::chrono::year_month_day calendarDay{day};
    const std::chrono::hh_mm_ss<milliseconds> time{instant - day};
    return CivilTime{
        .year = static_cast<int>(calendarDay.year()),
        .month = static_cast<unsigned>(calendarDay.month()),
        .day = static_cast<unsigned>(calendarDay.day()),
        .weekday = std::chrono::weekday{day}.c_encoding(),
        .hour = static_cast<unsigned>(time.hours().count()),
        .minute = static_cast<unsigned>(time.minutes().count()),
        .second = static_cast<unsigned>(time.seconds().count()),
        .millisecond = static_cast<unsigned>(time.subseconds().count()),
    };
}

void appendDigits(std::string& out, unsigned value, int width) {
    std::array<char, 10> digits{};
    int count = 0;
    do {
        digits[static_cast<std::size_t>(count++)] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && count < static_cast<int>(digits.size()));
    for (int pad = count; pad < width; ++pad) out.push_back('0');
    while (count > 0) out.push_back(digits[static_cast<std::size_t>(--count)]);
}

// The instant of a civil date-time given at a UTC offset; none when a field is
// out of its range or the instant does not fit a time point.
std::optional<Clock::time_point> instantOf(const CivilTime& civil, seconds utcOffset) {
    if (civil.year < 1 || civil.year > 9999) return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year{civil.year}, std::chrono::month{civil.month},
                                           std::chrono::day{civil.day}};
    if (!date.ok() || civil.hour > 23 || civil.minute > 59 || civil.second > 59 || civil.millisecond > 999) {
        return std::nullopt;
    }
    const std::int64_t daysSinceEpoch = std::chrono::sys_days{date}.time_since_epoch().count();
    const std::int64_t secondsSinceEpoch =
        daysSinceEpoch * 86'400 + civil.hour * 3'600 + civil.minute * 60 + civil.second - utcOffset.count();
    const milliseconds sinceEpoch{secondsSinceEpoch * 1'000 + civil.millisecond};

    constexpr auto kEarliest = std::chrono::ceil<milliseconds>(Clock::time_point::min().time_since_epoch());
    constexpr auto kLatest = std::chrono::floor<milliseconds>(Clock::time_point::max().time_since_epoch());
    if (sinceEpoch < kEarliest || sinceEpoch > kLatest) return std::nullopt;
    return Clock::time_point{std::chrono::duration_cast<Clock::duration>(sinceEpoch)};
}

// Reads a text from left to right; every step fails once one has failed.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool literal(std::string_view expected) {
        if (text_.substr(position_, expected.size()) != expected) return false;
        position_ += expected.size();
        return true;
    }

    bool digits(std::size_t count, unsigned& value) {
        if (text_.size() - position_ < count) return false;
        unsigned result = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const char c = text_[position_ + i];
            if (c < '0' || c > '9') return false;
            result = result * 10 + static_cast<unsigned>(c - '0');
        }
        position_ += count;
        value = result;
        return true;
    }

    // Index of the table entry the text continues with.
    template <std::size_t N>
    bool oneOf(const std::array<std::string_view, N>& table, unsigned& index) {
        for (std::size_t i = 0; i < N; ++i) {
            if (literal(table[i])) {
                index = static_cast<unsigned>(i);
                return true;
            }
        }
        return false;
    }

    [[nodiscard]] bool peek(char c) const { return position_ < text_.size() && text_[position_] == c; }
    void skip() { ++position_; }
    [[nodiscard]] bool atEnd() const { return position_ == text_.size(); }

private:
    std::string_view text_;
    std::size_t position_ = 0;
};

// "HH:mm:ss", the time of day both formats share.
void appendTime(std::string& text, const CivilTime& civil) {
    appendDigits(text, civil.hour, 2);
    text += ':';
    appendDigits(text, civil.minute, 2);
    text += ':';
    appendDigits(text, civil.second, 2);
}

bool readTime(Reader& reader, CivilTime& civil) {
    return reader.digits(2, civil.hour) && reader.literal(":") && reader.digits(2, civil.minute) &&
           reader.literal(":") && reader.digits(2, civil.second);
}

}  // namespace

std::string cv_asHTTPDate(Clock::time_point date) {
    const CivilTime civil = civilTimeOf(date);
    std::string text;
    text.reserve(29);
    text += kWeekdays[civil.weekday];
    text += ", ";
    appendDigits(text, civil.day, 2);
    text += ' ';
    text += kMonths[civil.month - 1];
    text += ' ';
    appendDigits(text, static_cast<unsigned>(civil.year), 4);
    text += ' ';
    appendTime(text, civil);
    text += " GMT";
    return text;
}

std::optional<Clock::time_point> cv_fromHTTPDate(std::string_view text) {
    Reader reader(text);
    CivilTime civil;
    unsigned year = 0;
    unsigned monthIndex = 0;
    const bool matched = reader.oneOf(kWeekdays, civil.weekday) && reader.literal(", ") &&
                         reader.digits(2, civil.day) && reader.literal(" ") && reader.oneOf(kMonths, monthIndex) &&
                         reader.literal(" ") && reader.digits(4, year) && reader.literal(" ") &&
                         readTime(reader, civil) && reader.literal(" GMT") && reader.atEnd();
    if (!matched) return std::nullopt;
    civil.year = static_cast<int>(year);
    civil.month = monthIndex + 1;
    return instantOf(civil, seconds{0});
}

std::string cv_asUtcIso8601(Clock::time_point date) {
    const CivilTime civil = civilTimeOf(date);
    std::string text;
    text.reserve(24);
    appendDigits(text, static_cast<unsigned>(civil.year), 4);
    text += '-';
    appendDigits(text, civil.month, 2);
    text += '-';
    appendDigits(text, civil.day, 2);
    text += 'T';
    appendTime(text, civil);
    text += '.';
    appendDigits(text, civil.millisecond, 3);
    text += 'Z';
    return text;
}

std::string cv_normalizedUtcIso8601(std::string_view text) {
    if (text.size() > 23) return std::string(text);
    while (!text.empty() && text.front() == 'Z') text.remove_prefix(1);
    while (!text.empty() && text.back() == 'Z') text.remove_suffix(1);
    std::string normalized(text);
    if (normalized.size() > 19) {
        normalized += "000";
        normalized.resize(23);
        normalized += 'Z';
    } else {
        normalized += ".000Z";
    }
    return normalized;
}

std::optional<Clock::time_point> cv_fromUtcIso8601(std::string_view text) {
    const std::string normalized = cv_normalizedUtcIso8601(text);
    Reader reader(normalized);
    CivilTime civil;
    unsigned year = 0;
    const bool dateTime = reader.digits(4, year) && reader.literal("-") && reader.digits(2, civil.month) &&
                          reader.literal("-") && reader.digits(2, civil.day) && reader.literal("T") &&
                          readTime(reader, civil) && reader.literal(".");
    if (!dateTime) return std::nullopt;
    civil.year = static_cast<int>(year);

    // At least one fractional digit; those past the millisecond are read and dropped.
    unsigned digit = 0;
    unsigned fractionDigits = 0;
    while (reader.digits(1, digit)) {
        if (fractionDigits < 3) civil.millisecond = civil.millisecond * 10 + digit;
        ++fractionDigits;
    }
    if (fractionDigits == 0) return std::nullopt;
    for (unsigned pad = fractionDigits; pad < 3; ++pad) civil.millisecond *= 10;

    seconds utcOffset{0};
    if (!reader.literal("Z")) {
        int sign = 0;
        if (reader.peek('+')) sign = 1;
        if (reader.peek('-')) sign = -1;
        if (sign == 0) return std::nullopt;
        reader.skip();
        unsigned hours = 0;
        unsigned minutes = 0;
        if (!reader.digits(2, hours) || !reader.literal(":") || !reader.digits(2, minutes)) return std::nullopt;
        if (hours > 23 || minutes > 59) return std::nullopt;
        utcOffset = seconds{sign * static_cast<int>(hours * 3'600 + minutes * 60)};
    }
    if (!reader.atEnd()) return std::nullopt;
    return instantOf(civil, utcOffset);
}

}  // namespace ambrell
