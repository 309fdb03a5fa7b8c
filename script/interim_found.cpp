// Interim definitions until the script interpreter, learn mode and script files land (delete
// this file then).
#include "script/interim_found.h"

#include "core/fmt.h"

#include <string>
#include <unistd.h>

// Start-up must still run in order: a script that exists is reported, not run.
int cmdfile(int count, char** words, int, int) {
    for (int i = 0; i < count && words[i]; i++) {
        std::string name = words[i];
        if (access(name.c_str(), F_OK) == 0 || access((name + ".cmd").c_str(), F_OK) == 0) {
            zzprintf("Command files are not built yet\r\n");
            break;
        }
    }
    return 0;
}
int docmd(const char*) {
    zzprintf("Script commands are not built yet\r\n");
    return 1;
}
int cmdmode() {
    zzprintf("Command mode is not built yet\r\n");
    return 1;
}
int c_connect(const char*) {
    zzprintf("Connecting to a configuration is not built yet\r\n");
    return 1;
}
int dmatch(int, const char* const*) {
    return 0;
}
void lrncom(int) {}
void lrnkey(int) {}
void lrnend() {}
void closeall() {}
void flushwindow() {}
