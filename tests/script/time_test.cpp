// Time numbers: local time counted from 1970, checked against the C library in two zones.
#include "script/expr.h"
#include "script/vtime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

// Sets TZ for one test and puts the old value back.
struct Zone {
    std::string old = getenv("TZ") ? getenv("TZ") : "";
    explicit Zone(const char* tz) { set(tz); }
    ~Zone() { set(old.empty() ? nullptr : old.c_str()); }
    static void set(const char* tz) {
        tz ? setenv("TZ", tz, 1) : unsetenv("TZ");
        tzset();
    }
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

TEST(Time, LocalTimeIsTheCLibrarysInZonesWithOddRules) {
    // Turns of years, leap days, both sides of daylight saving changes. Dublin keeps summer time
    // as its standard time and goes back an hour in winter; Lord Howe moves by 30 minutes;
    // Kolkata is 5:30 ahead all year; the POSIX rule string is read by the C library itself.
    // (The texts of a time number are pinned against the C library below.)
    const time_t moments[] = {0,          946684799,  946684800,  951782400,
                              951868800,  1104537599, 1104537600, 1143334800,
                              1162083600, 1709164800, 1711846800, 2000000000,
                              1230767999, 1230768000, 1767268800, 1782907200};
    const char* const odd = "XST-3:30XDT-4,M3.5.0/2,M10.5.0/3";
    for (const char* tz : {"Europe/Berlin", "America/New_York", "UTC", "Europe/London",
                           "Europe/Dublin", "Australia/Lord_Howe", "Asia/Kolkata", odd}) {
        Zone zone(tz);
        for (time_t t : moments)
            EXPECT_EQ(convtime(t), libc(t)) << tz << " " << t;
    }
}

TEST(Time, FieldsTextsAndBackMatchTheCLibrary) {
    for (int y : {1970, 1999, 2000, 2001, 2024, 2038, 2099}) {
        for (int m = 1; m <= 12; m++) {
            struct tm f = fields(y, m, m == 12 ? 31 : 1, 23, 59, 59);
            struct tm g = f;
            const int32_t t = vorntm(f);
            EXPECT_EQ(static_cast<uint32_t>(t), static_cast<uint32_t>(timegm(&g))) << y << m;
            if (y >= 2038) continue; // beyond the signed time numbers the texts show
            char want[16];
            strftime(want, sizeof want, "%m/%d/%Y", &g);
            EXPECT_STREQ(adate(t), want) << y << m;
            EXPECT_STREQ(atime(t), "23:59:59");
        }
    }
    EXPECT_EQ(vorntm(fields(1960, 1, 1)), 0);
    EXPECT_STREQ(atime(3661), "01:01:01");
}

TEST(Time, Atod) {
    Zone zone("Europe/Berlin");
    const int32_t xmas = vorntm(fields(2006, 12, 25));
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {
        {"12/25/2006.10:30", xmas + 10 * 3600 + 30 * 60},
        {"10:30.12/25/2006", xmas + 10 * 3600 + 30 * 60},
        {"12/25/06 10:30", xmas},
        {"12/25/2006.10:30:15", xmas + 10 * 3600 + 30 * 60 + 15},
        {"12/25/2006.10:", xmas + 10 * 3600},
        {"12/25/", vorntm(fields(2000, 12, 25))},
        {"1/2/99", vorntm(fields(1999, 1, 2))},
        {"2/29/2000", vorntm(fields(2000, 2, 29))},
    };
    for (const auto& c : cases)
        EXPECT_EQ(atod(c.text), c.value) << c.text;
    for (const char* bad : {"25:00", "13/01/2006", "0/1/2006", "1/32/2006", "1/", "1/2/1899",
                            "10:60", "10:30:60", "x", "10-30", "1/2/2006x"})
        EXPECT_EQ(atod(bad), -1) << bad;
    // Today's date keeps the current time of day; a time alone is today at that time.
    int32_t now = vorntime();
    int32_t midnight = now - now % 86400;
    EXPECT_EQ(atod("10:30"), midnight + 10 * 3600 + 30 * 60);
    for (const std::string& today : {std::string(adate(now)), std::string()}) {
        EXPECT_GE(atod(today.c_str()), now);
        EXPECT_LE(atod(today.c_str()), now + 5);
    }
}

} // namespace
