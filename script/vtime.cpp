#include "script/vtime.h"

#include <cstdio>

namespace {

int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

void setfeb(int64_t year) {
    bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    days[1] = leap ? 29 : 28;
}

// The local clock fields of a time number.
struct tm split(int32_t t) {
    time_t tt = t;
    struct tm f {};
    gmtime_r(&tt, &f);
    return f;
}

bool isdig(char c) {
    return c >= '0' && c <= '9';
}

// A run of digits, saturating well above any valid field; -1 when there is none.
int64_t digits(const char*& p) {
    if (!isdig(*p)) return -1;
    int64_t n = 0;
    while (isdig(*p)) {
        if (n < 100000000) n = n * 10 + (*p - '0');
        p++;
    }
    return n;
}

} // namespace

// The local clock is the C library's, with the user's TZ: the offset east of UTC in force at t
// itself. Subtracting the standard offset and adding an hour for daylight saving is wrong where
// the saving is not an hour (Lord Howe: 30 minutes) or is negative in winter (Dublin).
int32_t convtime(time_t t) {
    tzset();
    struct tm lt {};
    if (!localtime_r(&t, &lt)) return static_cast<int32_t>(t);
    int64_t v = static_cast<int64_t>(t) + lt.tm_gmtoff;
    return static_cast<int32_t>(static_cast<uint32_t>(v));
}

int32_t vorntime() {
    return convtime(time(nullptr));
}

const char* atime(int32_t t) {
    static char buf[32];
    struct tm f = split(t);
    snprintf(buf, sizeof buf, "%02d:%02d:%02d", f.tm_hour, f.tm_min, f.tm_sec);
    return buf;
}

const char* adate(int32_t t) {
    static char buf[32];
    struct tm f = split(t);
    snprintf(buf, sizeof buf, "%02d/%02d/%04d", f.tm_mon + 1, f.tm_mday, f.tm_year + 1900);
    return buf;
}

int32_t vorntm(const struct tm& f) {
    int64_t y = static_cast<int64_t>(f.tm_year) + 1900;
    int64_t d = 0;
    if (y > 1970) {
        d = 365 * (y - 1970) + (y - 1969) / 4;
        if ((y - 1) % 100 == 0) d--;
        if ((y - 1) % 400 == 0) d++;
    }
    setfeb(y);
    for (int m = 0; m < f.tm_mon && m < 12; m++)
        d += days[m];
    d += f.tm_mday - 1;
    int64_t v = d * 86400 + static_cast<int64_t>(f.tm_hour) * 3600 + f.tm_min * 60 + f.tm_sec;
    return static_cast<int32_t>(static_cast<uint32_t>(v));
}

bool tmdatestr(const char* text, struct tm& f) {
    f = split(vorntime());
    const int today[3] = {f.tm_year, f.tm_mon, f.tm_mday};
    bool timegiven = false;
    const char* p = text;
    while (*p && *p != ' ' && *p != '\t') {
        int64_t n = digits(p);
        if (n < 0) return false;
        if (*p == '/') { // date: month/day[/year]
            p++;
            if (n < 1 || n > 12) return false;
            int64_t day = digits(p);
            if (day < 1 || day > 31) return false;
            int64_t year = f.tm_year + 1900;
            if (*p == '/') {
                p++;
                int64_t y = digits(p);
                if (y < 0)
                    year = 2000;
                else if (y < 70)
                    year = 2000 + y;
                else if (y < 100)
                    year = 1900 + y;
                else if (y >= 1900)
                    year = y;
                else
                    return false;
            }
            int date[3] = {static_cast<int>(year - 1900), static_cast<int>(n - 1),
                           static_cast<int>(day)};
            if (date[0] != today[0] || date[1] != today[1] || date[2] != today[2]) {
                f.tm_year = date[0];
                f.tm_mon = date[1];
                f.tm_mday = date[2];
                if (!timegiven) f.tm_hour = f.tm_min = f.tm_sec = 0;
            }
        } else if (*p == ':') { // time: hour:minute[:second]
            p++;
            if (n > 23) return false;
            int64_t min = digits(p);
            if (min < 0) min = 0;
            if (min > 59) return false;
            int64_t sec = 0;
            if (*p == ':') {
                p++;
                sec = digits(p);
                if (sec < 0) sec = 0;
                if (sec > 59) return false;
            }
            f.tm_hour = static_cast<int>(n);
            f.tm_min = static_cast<int>(min);
            f.tm_sec = static_cast<int>(sec);
            timegiven = true;
        } else if (!*p || *p == ' ' || *p == '\t') {
            break;
        } else {
            return false;
        }
        if (*p == '.') p++;
    }
    return true;
}

int32_t atod(const char* text) {
    struct tm f {};
    if (!tmdatestr(text, f)) return -1;
    return vorntm(f);
}
