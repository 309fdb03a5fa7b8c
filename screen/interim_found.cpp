// Interim definitions until the virtual screen, keyboard and scrollback land (delete then).
#include "screen/interim_found.h"

#include "core/fmt.h"
#include "ports/console.h"
#include "screen/display.h"

#include <cstdio>

int vpages = 1;
int vfromhost = 0;

int gold = 0;
int compose = 0;
int kdisable = 0;
int vcapslock = 0;
int kbtype = 0;
int vkbtype = 0;
int toscancode(int) {
    return 0;
}

int vscrollback = 0;
int sblinemax = 0;
int createsess(int) {
    return 0;
}
int crpages(int) {
    return 0;
}
int sbinit(int) {
    return 0;
}
void sbdisplay(int) {}
void sbprev(int) {}
void sbnext(int) {}
