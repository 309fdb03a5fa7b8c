#pragma once
// Dialing, answering, login and logout.
#include "ports/settings.h" // scmd

int answer(int mode);
int docall(const char* number, int mode);
int hangcmd();
int dologin();
int dologout();
