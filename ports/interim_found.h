#pragma once
// Interim declarations of line settings, the serial driver, the key-sequence matcher's tables
// and the service directory, until those land with their own headers; then this file and
// interim_found.cpp go.
#include "ports/com.h"

#include "ports/settings.h"

// Serial driver.
int serset(int fd, int word);
long sergbaud(int fd, int remember);

// Service directory.
int connservice(const char* name, int interactive);
int try3conn(const char* name);
int getsrvtype(const char* transport);
