#include "screen/vscreen.h"

int vcols = 80;
int vdestline = 0, vdestcol = 0;
