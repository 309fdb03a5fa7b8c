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
// The script command `config read|write name`.
int confcmd(const char* args);
