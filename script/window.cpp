// Script windows, menus and attributes.
// stand-in until script windows exist: no window is ever open.
#include "script/window.h"

#include "screen/display.h"
#include "script/cmds.h"

int wactive = 0;
void wputc(int c) {
    _ttyout(c);
}
void flushwindow() {}

// stand-in until script windows exist
int c_attr(const char*) {
    return notbuilt("ATTR");
}
// stand-in until script windows exist
int c_cls(const char*) {
    return notbuilt("CLS");
}
// stand-in until script windows exist
int c_color(const char*) {
    return notbuilt("COLOR");
}
// stand-in until script windows exist
int c_menu(const char*) {
    return notbuilt("MENU");
}
// stand-in until script windows exist
int c_wclose(const char*) {
    return notbuilt("WCLOSE");
}
// stand-in until script windows exist
int c_wopen(const char*) {
    return notbuilt("WOPEN");
}
// stand-in until script windows exist
int c_wselect(const char*) {
    return notbuilt("WSELECT");
}
