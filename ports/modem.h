#pragma once
// Dialing, answering, login and logout.

int scmd(const char* text);
int answer(int mode);
int docall(const char* number, int mode);
int hangcmd();
int dologin();
int dologout();
