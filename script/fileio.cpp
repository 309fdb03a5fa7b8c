// Script file I/O and the log file.
#include "script/cmd.h"
#include "script/cmds.h"

// stand-in until script file I/O exist
int c_fclose(const char*) {
    return notbuilt("FCLOSE");
}
// stand-in until script file I/O exist: no file is open.
void closeall() {}
// stand-in until script file I/O exist
int c_fcreate(const char*) {
    return notbuilt("FCREATE");
}
// stand-in until script file I/O exist
int c_fflush(const char*) {
    return notbuilt("FFLUSH");
}
// stand-in until script file I/O exist
int c_fopen(const char*) {
    return notbuilt("FOPEN");
}
// stand-in until script file I/O exist
int c_fread(const char*) {
    return notbuilt("FREAD");
}
// stand-in until script file I/O exist
int c_freadln(const char*) {
    return notbuilt("FREADLN");
}
// stand-in until script file I/O exist
int c_fseek(const char*) {
    return notbuilt("FSEEK");
}
// stand-in until script file I/O exist
int c_fwrite(const char*) {
    return notbuilt("FWRITE");
}
// stand-in until script file I/O exist
int c_fwriteln(const char*) {
    return notbuilt("FWRITELN");
}
// stand-in until script file I/O exist
int c_log(const char*) {
    return notbuilt("LOG");
}
// stand-in until script file I/O exist
int c_logfile(const char*) {
    return notbuilt("LOGFILE");
}
