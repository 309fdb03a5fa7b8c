#pragma once
// Command menu, procedure mode and help.

int runmenus(int argument);
// Runs a full-screen procedure with the emulator's screen state saved around it.
int enterproc(int (*procedure)(int), int argument);
int m_quit(int argument);
int help(const char* keyword);
