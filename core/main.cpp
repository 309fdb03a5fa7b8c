#include "core/start.h"

int main(int argc, char** argv) {
    return vornmain(argc, argv);
}
