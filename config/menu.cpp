// stand-in until the command menu, procedure mode and the help system exist
#include "config/menu.h"

#include "core/fmt.h"
#include "core/start.h"

int runmenus(int) {
    return aberr("Command menu is not built yet\r\n");
}
int enterproc(int (*procedure)(int), int argument) {
    return procedure(argument);
}
int m_quit(int) {
    doneterm(0);
}
int help(const char*) {
    return aberr("Help is not built yet\r\n");
}
