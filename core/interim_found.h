#pragma once
// Interim declarations of operating-system services used by start-up and terminal mode, until
// core/os.cpp lands with its own header; then this file and interim_found.cpp go.

void osinit();
// Empties the key-sequence matcher and enters the console's key strings.
void setupkeys();
const char* gethomedir();
// Rings the console bell.
void bell();
void vinit();
void vexit();
void shell(int redraw);
int osescape(const char* command, int want);
