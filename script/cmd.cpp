#include "script/cmd.h"

void cmdreset() {
    flevel = iflevel = exlevel = 0;
    rsp = swsp = -1;
    inprcmd = inoncmd = inconfig = 0;
    insysfile = 0;
    canerror = 1;
    retval = 0;
    quitpend = -1;
    ev_delay = 0;
    ev_key = 0;
    ev_carr = ev_nocarr = ev_abort = ev_error = 0;
    ev_keyseek = 0;
}
