#include "config/help.h"
#include "core/start.h"

int main(int argc, char** argv) {
    if (int r = helpargs(argc, argv); r >= 0) return r;
    return vornmain(argc, argv);
}
