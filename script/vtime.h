#pragma once
// Time and date. One representation serves scripts, the log and the transfer statistics: the
// time number, seconds since 1 January 1970 counted in local time, so that splitting it with a
// UTC calendar gives the local clock fields.
#include <cstdint>
#include <ctime>

// The current time number.
int32_t vorntime();
// A system time (for example a file's modification time) as a time number.
int32_t convtime(time_t t);
// "hh:mm:ss" and "mm/dd/yyyy" of a time number, in static buffers valid until the next call.
const char* atime(int32_t t);
const char* adate(int32_t t);
// Broken-down local fields (tm_sec .. tm_year) to a time number; exact for 1970 to 2099.
int32_t vorntm(const struct tm& f);
// Parses a date/time text ("12/25/2006.10:30", "10:30", ...) into fields; false when invalid.
bool tmdatestr(const char* text, struct tm& f);
// tmdatestr then vorntm; -1 for an invalid text.
int32_t atod(const char* text);
