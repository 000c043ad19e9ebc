#include <cstdlib>
#include <ctime>
#include <string>

#include "file_test_support.h"
#include "tavikfcu/TKFile.h"

namespace {

constexpr unsigned int kFail = 0xFFFFFFFFu;

// Sets TZ for one test and puts the old value back afterwards.
class ZoneScope {
  public:
    explicit ZoneScope(const char* zone) {
        const char* old = std::getenv("TZ");
        m_had = old != nullptr;
        if (old) m_old = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope() {
        if (m_had)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    bool m_had = false;
    std::string m_old;
};

// Seconds since 1970 of a UTC calendar time (days-from-civil), independent
// of the C library's zone code.
std::int64_t UtcSeconds(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = era * 146097 + doe - 719468;
    return days * 86400 + hh * 3600 + mm * 60 + ss;
}

unsigned int Low32(std::int64_t t) {
    return static_cast<unsigned int>(static_cast<std::uint64_t>(t));
}

unsigned int Parse(const std::u16string& text) {
    return TKTimeUtils::GetTimeFromStr(text.c_str());
}

// ---- parsing in zones with a fixed offset -------------------------------------------------

struct ParseCase {
    const char* name;
    std::u16string text;
    bool ok;
    int y = 0, m = 0, d = 0, hh = 0, mm = 0, ss = 0;  // the local time expected when ok
};

const ParseCase kParseCases[] = {
    {"Full", u"2024-03-05 08:07:09", true, 2024, 3, 5, 8, 7, 9},
    {"OneDigitFields", u"2024-3-5 8:7:9", true, 2024, 3, 5, 8, 7, 9},
    // The date ends at the first space after the second dash, so the day
    // can be led by a tab but not by a space.
    {"BlanksAroundEveryNumber", u" 2024 - 3 -\t5 \t 8 : 7 :\t9 ", true, 2024, 3, 5, 8, 7, 9},
    {"DateOnlyIsMidnight", u"2024-03-05", true, 2024, 3, 5, 0, 0, 0},
    {"OneColonIsMidnight", u"2024-03-05 08:07", true, 2024, 3, 5, 0, 0, 0},
    {"TextAfterDateIgnored", u"2024-03-05 whatever", true, 2024, 3, 5, 0, 0, 0},
    {"MinusZeroHour", u"2024-03-05 -0:00:01", true, 2024, 3, 5, 0, 0, 1},
    {"February30RollsOver", u"2024-02-30", true, 2024, 3, 1, 0, 0, 0},
    {"LowestYear", u"1990-01-01 00:00:00", true, 1990, 1, 1, 0, 0, 0},
    {"Past2106Wraps", u"2200-06-01 10:00:00", true, 2200, 6, 1, 10, 0, 0},
    {"HighestYearAndEveryUpperBound", u"2500-12-31 23:59:59", true, 2500, 12, 31, 23, 59, 59},
    {"Year1989", u"1989-12-31", false},
    {"Year2501", u"2501-01-01", false},
    {"Month13", u"2024-13-01", false},
    {"Month0", u"2024-0-01", false},
    {"Day32", u"2024-01-32", false},
    {"Hour24", u"2024-01-01 24:00:00", false},
    {"Minute60", u"2024-01-01 00:60:00", false},
    {"Second60", u"2024-01-01 00:00:60", false},
    {"NegativeSecond", u"2024-01-01 00:00:-1", false},
    {"LoneMinus", u"2024-01-01 - :00:00", false},
    {"Slashes", u"2024/03/05 08:07:09", false},
    {"TBeforeTime", u"2024-03-05T08:07:09", false},
    {"PlusSign", u"+2024-03-05", false},
    {"EmptyMonth", u"2024--03-05", false},
    {"ThirdColon", u"2024-03-05 08:07:09:00", false},
    {"TrailingLetter", u"2024-03-05 08:07:09x", false},
    {"FullWidthDigits", u"２０２４-03-05", false},
    {"HugeNumber", u"2024-03-05 99999999999999999999:00:00", false},
    {"Empty", u"", false},
};

struct ZoneCase {
    const char* name;
    const char* tz;
    int offsetSeconds;  // east of UTC, constant since 1990
};

class ParseInFixedZone : public ::testing::TestWithParam<std::tuple<ZoneCase, ParseCase>> {};

TEST_P(ParseInFixedZone, GivesLocalInstant) {
    const auto& [zone, c] = GetParam();
    ZoneScope scope(zone.tz);
    unsigned int expected =
        c.ok ? Low32(UtcSeconds(c.y, c.m, c.d, c.hh, c.mm, c.ss) - zone.offsetSeconds) : kFail;
    EXPECT_EQ(Parse(c.text), expected) << Show(c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseInFixedZone,
    ::testing::Combine(::testing::Values(ZoneCase{"UTC", "UTC", 0},
                                         ZoneCase{"Shanghai", "Asia/Shanghai", 8 * 3600}),
                       ::testing::ValuesIn(kParseCases)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
    });

TEST(TimeParse, NullFailsAndTimesWrapAtTwoToThe32) {
    ZoneScope scope("UTC");
    EXPECT_EQ(TKTimeUtils::GetTimeFromStr(nullptr), kFail);
    EXPECT_EQ(Parse(u"2106-02-07 06:28:14"), 0xFFFFFFFEu);
    EXPECT_EQ(Parse(u"2106-02-07 06:28:16"), 0u);  // one second past the last 32-bit value
    EXPECT_EQ(U16(TKTimeUtils::FormatTime(0xFFFFFFFFu)), u"2106-02-07 06:28:15");
}

// ---- formatting --------------------------------------------------------------------------------

TEST(TimeFormat, LocalTimeRoundTripsAndReachesPast2038) {
    const struct {
        const char* tz;
        const char16_t* epoch;
    } zones[] = {{"UTC", u"1970-01-01 00:00:00"},
                 {"Asia/Shanghai", u"1970-01-01 08:00:00"},
                 {"Europe/Berlin", u"1970-01-01 01:00:00"}};
    for (const auto& zone : zones) {
        ZoneScope scope(zone.tz);
        EXPECT_EQ(U16(TKTimeUtils::FormatTime(0)), zone.epoch) << zone.tz;
        for (const char16_t* text : {u"2024-03-05 08:07:09", u"2024-07-31 23:59:59",
                                     u"2040-01-01 00:00:00", u"2106-01-01 12:34:56"}) {
            unsigned int t = TKTimeUtils::GetTimeFromStr(text);
            ASSERT_NE(t, kFail) << zone.tz;
            EXPECT_EQ(U16(TKTimeUtils::FormatTime(t)), std::u16string(text)) << zone.tz;
        }
    }
}

// ---- daylight saving ---------------------------------------------------------------------------

TEST(TimeZoneWithDaylightSaving, BerlinFollowsTheSeason) {
    ZoneScope scope("Europe/Berlin");
    struct {
        const char* name;
        std::u16string text;
        std::int64_t utc;
    } cases[] = {
        {"winter", u"2024-01-15 12:00:00", UtcSeconds(2024, 1, 15, 11)},
        {"summer", u"2024-07-15 12:00:00", UtcSeconds(2024, 7, 15, 10)},
        {"before spring change", u"2024-03-31 01:59:59", UtcSeconds(2024, 3, 31, 0, 59, 59)},
        {"after spring change", u"2024-03-31 03:00:00", UtcSeconds(2024, 3, 31, 1)},
        {"after autumn change", u"2024-10-27 03:00:00", UtcSeconds(2024, 10, 27, 2)},
        {"date only in summer", u"2024-07-15", UtcSeconds(2024, 7, 14, 22)},
    };
    for (const auto& c : cases) EXPECT_EQ(Parse(c.text), Low32(c.utc)) << c.name;

    // 02:30 on the spring day does not exist; the runtime places it an hour
    // to one side or the other, but it is not a failure.
    unsigned int gap = Parse(u"2024-03-31 02:30:00");
    EXPECT_TRUE(gap == Low32(UtcSeconds(2024, 3, 31, 0, 30)) ||
                gap == Low32(UtcSeconds(2024, 3, 31, 1, 30)))
        << gap;
    EXPECT_EQ(U16(TKTimeUtils::FormatTime(Low32(UtcSeconds(2024, 7, 15, 10)))),
              u"2024-07-15 12:00:00");
}

// ---- the clock ----------------------------------------------------------------------------------

TEST(TimeClock, CurrentTimeMatchesTheSystemClock) {
    unsigned int before = Low32(std::time(nullptr));
    unsigned int now = TKTimeUtils::GetCurTime();
    unsigned int after = Low32(std::time(nullptr));
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);

    ZoneScope scope("UTC");
    CTKString text = TKTimeUtils::GetCurFormatTime();
    unsigned int parsed = TKTimeUtils::GetTimeFromStr(text);
    EXPECT_LE(now, parsed) << Show(U16(text));
    EXPECT_LE(parsed, Low32(std::time(nullptr)));
}

}  // namespace
