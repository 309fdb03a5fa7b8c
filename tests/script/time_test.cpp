// Time numbers: local time counted from 1970, checked against the C library in two zones.
#include "script/expr.h"
#include "script/vtime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

// Sets TZ for one test and puts the old value back.
class Zone {
  public:
    explicit Zone(const char* tz) {
        const char* old = getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~Zone() {
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    bool had_ = false;
    std::string old_;
};

// What the C library says the local clock shows at system time t, as seconds from 1970.
int32_t libc(time_t t) {
    struct tm lt {};
    localtime_r(&t, &lt);
    return static_cast<int32_t>(timegm(&lt));
}

struct tm fields(int y, int mon, int d, int h = 0, int mi = 0, int s = 0) {
    struct tm f {};
    f.tm_year = y - 1900;
    f.tm_mon = mon - 1;
    f.tm_mday = d;
    f.tm_hour = h;
    f.tm_min = mi;
    f.tm_sec = s;
    return f;
}

TEST(Time, ConvtimeMatchesTheCLibraryInTwoZones) {
    // Turns of years, leap days, both sides of daylight saving changes.
    const time_t moments[] = {0,          946684799,  946684800,  951782400,  951868800,
                              1104537599, 1104537600, 1143334800, 1162083600, 1709164800,
                              1711846800, 2000000000, 1230767999, 1230768000};
    for (const char* tz : {"Europe/Berlin", "America/New_York", "UTC"}) {
        Zone zone(tz);
        for (time_t t : moments)
            EXPECT_EQ(convtime(t), libc(t)) << tz << " " << t;
    }
}

TEST(Time, FieldsToTimeNumberMatchTimegm) {
    for (int y : {1970, 1971, 1999, 2000, 2001, 2004, 2023, 2024, 2038, 2099}) {
        for (int m = 1; m <= 12; m++) {
            struct tm f = fields(y, m, 1, 13, 14, 15);
            struct tm g = f;
            EXPECT_EQ(static_cast<uint32_t>(vorntm(f)), static_cast<uint32_t>(timegm(&g)))
                << y << "/" << m;
        }
        struct tm last = fields(y, 12, 31, 23, 59, 59);
        struct tm g = last;
        EXPECT_EQ(static_cast<uint32_t>(vorntm(last)), static_cast<uint32_t>(timegm(&g))) << y;
    }
    EXPECT_EQ(vorntm(fields(1960, 1, 1)), 0);
}

TEST(Time, Texts) {
    EXPECT_STREQ(adate(0), "01/01/1970");
    EXPECT_STREQ(atime(0), "00:00:00");
    EXPECT_STREQ(atime(3661), "01:01:01");
    EXPECT_STREQ(adate(951782400), "02/29/2000");
    EXPECT_STREQ(adate(951868800), "03/01/2000");
    EXPECT_STREQ(adate(946684799), "12/31/1999");
    EXPECT_STREQ(atime(946684799), "23:59:59");
}

TEST(Time, Atod) {
    Zone zone("Europe/Berlin");
    const int32_t xmas = vorntm(fields(2006, 12, 25));
    EXPECT_EQ(atod("12/25/2006.10:30"), xmas + 10 * 3600 + 30 * 60);
    EXPECT_EQ(atod("10:30.12/25/2006"), xmas + 10 * 3600 + 30 * 60);
    EXPECT_EQ(atod("12/25/06"), xmas);
    EXPECT_EQ(atod("12/25/06 10:30"), xmas);
    EXPECT_EQ(atod("12/25/2006.10:30:15"), xmas + 10 * 3600 + 30 * 60 + 15);
    EXPECT_EQ(atod("12/25/2006.10:"), xmas + 10 * 3600);
    EXPECT_EQ(atod("12/25/"), vorntm(fields(2000, 12, 25)));
    EXPECT_EQ(atod("1/2/99"), vorntm(fields(1999, 1, 2)));
    EXPECT_EQ(atod("1/2/1985"), vorntm(fields(1985, 1, 2)));
    EXPECT_EQ(atod("2/29/2000") + 86400, atod("3/1/2000"));
    EXPECT_EQ(atod("12/31/1999.23:59:59") + 1, atod("1/1/2000"));
    for (const char* bad : {"25:00", "13/01/2006", "0/1/2006", "1/32/2006", "1/", "1/2/1899",
                            "10:60", "10:30:60", "x", "10-30", "1/2/2006x"})
        EXPECT_EQ(atod(bad), -1) << bad;
    // Today's date keeps the current time of day; a time alone is today at that time.
    int32_t now = vorntime();
    int32_t midnight = now - now % 86400;
    EXPECT_EQ(atod("10:30"), midnight + 10 * 3600 + 30 * 60);
    std::string today = adate(now);
    int32_t got = atod(today.c_str());
    EXPECT_GE(got, now);
    EXPECT_LE(got, now + 5);
    int32_t empty = atod("");
    EXPECT_GE(empty, now);
    EXPECT_LE(empty, now + 5);
}

TEST(Time, VorntimeFollowsTheZone) {
    int32_t utc, berlin;
    {
        Zone z("UTC");
        utc = vorntime();
    }
    {
        Zone z("Asia/Tokyo");
        berlin = vorntime();
    }
    int32_t diff = berlin - utc;
    EXPECT_GE(diff, 9 * 3600 - 5);
    EXPECT_LE(diff, 9 * 3600 + 5);
}

} // namespace
