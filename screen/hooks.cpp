#include "screen/hooks.h"

#include "screen/display.h"

#include <cstring>
#include <string>

void DisplayHooks::defmessage(const char* text) {
    _ttyouts(text, std::strlen(text));
}

int DisplayHooks::defnomemory(int code) {
    std::string text = "\aOut of RAM memory (Error #" + std::to_string(code) + ")\r\n";
    disphooks.message(text.c_str());
    return 1;
}
