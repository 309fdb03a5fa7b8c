#pragma once
// Data capture and printing.

extern int castat; // capture state: 2 while capturing
int setcapt(int state);
void captstatus(int onscreen);
int captfile(const char* name, int turnon);
const char* captname();
int capture(int c);
int setprint(int state);
bool printing(); // printer output is active
