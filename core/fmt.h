#pragma once
// Console message formatting. Every message, prompt and listing of the program goes through
// these functions; the console is raw, so every message ends in "\r\n".

int zzprintf(const char* fmt, ...);
int eprintf(const char* fmt, ...);
// Formats an error message and returns 1, so error paths can `return aberr(...)`.
int aberr(const char* fmt, ...);
void outs(const char* text);
