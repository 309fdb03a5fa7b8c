#pragma once
// Terminal mode and the escape prompt.
//
// term() is the central loop: line bytes go through dispcapt() to the emulator, keys go to the
// line, and the command keys below are recognised by termcmd(). The command key leaves term()
// with 1, and the caller runs escape(), the one-letter "c=>" prompt.

// Command keys: a character 0-255 or a key number; -1 means no key.
extern int cmdchar;     // escape prompt (^E)
extern int terchar;     // leave terminal mode with 3
extern int mnuchar;     // command menu (F1)
extern int hlpchar;     // help (F2)
extern int gldchar;     // gold key prefix (F3)
extern int shechar;     // local shell (F4)
extern int capchar;     // toggle capture (F5)
extern int prnchar;     // print the screen (F6)
extern int cpschar;     // compose (F9, VT220 only)
extern int brkchar;     // send a break (^B)
extern int linchar;     // login script
extern int louchar;     // logout script
extern int abochar;     // abort key of prompts, transfers and waits (^C)
extern int scrchar;     // pan a 132-column screen right (C-RIGHT)
extern int sclchar;     // pan left (C-LEFT)
extern int scachar;     // toggle the scan-code keyboard (ALTK)
extern int sldchar;     // scrollback one line back (C-DOWN)
extern int sluchar;     // scrollback one line forward (C-UP)
extern int spdchar;     // scrollback two thirds of a screen back (C-PGDN)
extern int spuchar;     // scrollback two thirds of a screen forward (C-PGUP)
extern int wruchar;     // answer-back trigger, received (^E)
extern char wrustr[81]; // answer-back string; empty = none

int term(const char* const* list);
// Window size handling of terminal mode: takes a new console size after SIGWINCH (`Lines` and
// `Cols` from the window, at least 24 x 80, at most 66 x 132), redraws the screen, and tells
// the program on a pseudo-terminal line whenever the emulated size (`vlines`, `vcols`) is not
// the one it was last told.
void termsize();
int termcmd(int key);
void dispcapt(int c);

// Resets the command keys and terminal-mode state to their power-on values.
void termreset();
