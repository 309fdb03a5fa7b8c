// Form input: fields placed with AT and read together.
#include "script/cmds.h"

// stand-in until form input exist
int c_at(const char*) {
    return notbuilt("AT");
}
