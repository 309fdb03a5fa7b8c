// Interim definitions until the virtual screen, keyboard and scrollback land (delete then).
#include "screen/interim_found.h"

#include "core/fmt.h"
#include "ports/console.h"
#include "screen/display.h"

#include <cstdio>

int vemode = 8;
int vlines = 24;
int vpages = 1;
int col132 = 0;
int vbegcol = 0;
int vendcol = 79;
int vfromhost = 0;

void attroff(AttrSave& save) {
    save = AttrSave{};
}
void attron(const AttrSave&) {}
void vsetattr(int) {}
void vclear() {
    for (const char* s = "\033[H\033[J"; *s; s++)
        _ttyout(*s);
}
void cpos(int row, int col) {
    char buf[32];
    int n = snprintf(buf, sizeof buf, "\033[%d;%dH", row + 1, col + 1);
    for (int i = 0; i < n; i++)
        _ttyout(buf[i]);
}
void scrleft() {}
void vredraw() {}
void prscreen() {
    zzprintf("Screen printing is not built yet\r\n");
}

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
