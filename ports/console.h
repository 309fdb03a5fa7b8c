#pragma once
// The console's terminal settings. savecons() keeps the settings the program found, setraw()
// puts a descriptor into raw mode, unsavecons() puts the saved settings back. Once saved, the
// settings are also put back at process exit and on std::terminate, so no path out of the
// program leaves the user's terminal raw.

// Saves the console's (ttyfd's) settings; -1 when the console is not a terminal.
int savecons();
// Raw mode on `fd`: no echo, no line editing, no signals from keys, no output processing,
// 8-bit characters, reads return after one byte.
int setraw(int fd);
// Restores the saved console settings (nothing when none were saved).
int unsavecons();
// 1 when savecons() found a terminal.
bool conssaved();
// Restores any saved settings and forgets them, for tests.
void consreset();
