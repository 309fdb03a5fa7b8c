#pragma once
// Interim declarations of the serial driver and the key-sequence matcher's tables, until those
// land with their own headers; then this file and interim_found.cpp go.
#include "ports/com.h"

#include "ports/service.h"
#include "ports/settings.h"

// Serial driver.
int serset(int fd, int word);
long sergbaud(int fd, int remember);
