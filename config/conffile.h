#pragma once
// Configuration files: the settings of one line or host as setting commands, one a line.
//
// The same file is a command file (connect runs it, ending with the `call` that dials) and a
// keyword file (config read applies only its setting lines; config write rewrites them). Both
// read values through the setting commands' own parser, and the writer puts texts in the
// string escape form, so what is written reads back byte for byte either way. Lines the user
// added (setkey, call, comments, anything unknown) are kept in place on a rewrite.
#include <string>

struct Setting;

// The working copy of a configuration: the seventeen text system variables _cremark .. _cwru
// (cfg in script/var.h), in this order. The menus' configuration editor works on it, and
// config get/set/new move it from and to the settings in force.
enum CfgField {
    C_REMARK,
    C_NUMBER,
    C_BAUD,
    C_PARITY,
    C_WORDLEN,
    C_STOPBITS,
    C_MODE,
    C_EMULATE,
    C_XPROT,
    C_PROTOCOL,
    C_CAPTFILE,
    C_LOGIN,
    C_LOGOUT,
    C_STARTSRV,
    C_STOPSRV,
    C_CMDFILE,
    C_WRU,
    C_COUNT
};
using ConfVars = std::string[C_COUNT];
// The defaults of a new configuration.
void newconfig(ConfVars& v);
// The settings in force into `v`.
void getconfig(ConfVars& v);
// `v` applied to the settings in force; 0, or 1 after "Config set error\r\n".
int setconfig(const ConfVars& v);
// The seventeen values a file holds, read without applying anything: false (and `v` as it
// was) when it cannot be read.
bool rdconfvars(const char* path, ConfVars& v);
// Rewrites the file's lines for the seventeen values (adding the missing ones), keeping every
// other line, atomically as wrconfig does. 0, or -1 with errno.
int wrconfvars(const char* path, const ConfVars& v);
// The command file a configuration runs after connecting (its `do` line).
inline std::string confdo;

// The line the writer writes for a row ("" for a row a configuration does not save).
std::string confline(const Setting& s);
// `text` in the escape form of a quoted script string, quotes included.
std::string quoted(const std::string& text);
// Applies the setting lines of the file; -1 when it cannot be opened, else the number of lines
// that gave an error (then "Config set error\r\n" has been reported).
int rdconfig(const char* path);
// Writes the current settings into the file, keeping its other lines: a temporary file in the
// same directory, synced and renamed over it, so the old file stays whole until the new one is.
// 0, or -1 with errno.
int wrconfig(const char* path);
// Finds the configuration `name` (".con" appended) for connect: a name with a slash as given,
// otherwise in the home directory, then in VORNDIR (or /usr/vorn), never the current directory
// unless named ("./name"), since the file runs as a script. A file that is neither the user's
// nor root's, or that others may write, is refused. The path, or "" after the message.
std::string findconf(const char* name);
// The script command `config get|set|new|read name|write name`.
int confcmd(const char* args);
