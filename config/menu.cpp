// stand-in until the command menu and procedure mode exist
#include "config/menu.h"

#include "core/fmt.h"
#include "core/start.h"
#include "screen/display.h"
#include "screen/vscreen.h"

int runmenus(int) {
    return aberr("Command menu is not built yet\r\n");
}
// The procedure draws straight on the console; the screen model still holds the session, so
// the redraw afterwards brings it back as it was.
int enterproc(int (*procedure)(int), int argument) {
    AttrSave save;
    attroff(save);
    int r = procedure(argument);
    attron(save);
    vredraw();
    _cpos(vdestline, vdestcol);
    oflush();
    return r;
}
int m_quit(int) {
    doneterm(0);
}
