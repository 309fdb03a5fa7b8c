#pragma once
// The service layer: opens a line by name. A name is either a service from the directory file
// "service.sys" or a direct address "transport:node" (telnet:host, pty:vi file, /dev/ttyS0).
// getservice() turns it into a transport name for cominit() and a node argument for the
// driver's vt(); connservice() opens the line with progress messages, falling back to the null
// line on failure; try3conn() keeps asking after a lost line.
#include <string>

inline std::string curnodename; // node of the current connection

// The service directory and other files that steer connections are looked for in the home
// directory, then in VORNDIR (default /usr/vorn); the current directory only when the name
// says so ("./service.sys"), so that a planted file cannot redirect a named host. A file found
// on the search path must be owned by the user or root and not writable by group or others.
// 1 found (path set), 0 not.
int getsafepath(std::string& path, const char* name);
// 1 when `path` is a regular file owned by the user or root and writable only by its owner.
int trustedfile(const char* path);
// trustedfile, with a message when the file is refused.
int usablefile(const char* path);

// Opens a line by name: 1 connected, 0 nothing to do (empty answer, missing node), -1 failure.
int connservice(const char* name, int interactive);
// Resolves a name: 1 resolved, 0 cancelled, -1 unknown (after "Unknown service: %s\r\n").
int getservice(const char* name, std::string& transport, std::string& node, int interactive);
// Looks a service up in the directory file: 1 found, 0 not found. Lines are "name type
// transport[:node] ...", blanks between words, "!" starts a comment line; names compare
// without case; only the first letter of the type counts, upper-cased; a line longer than 255
// characters is cut there, with a warning.
int chkservice(const char* file, const char* name, std::string& transport, std::string& node,
               int& type);
// 'N' for a network transport (its driver's flag bit 1), else 'D'.
int getsrvtype(const char* transport);
// Splits transport:node (leading blanks skipped; the node is empty without ":").
void getranshost(const char* text, std::string& transport, std::string& node);
// 1 when `name` names a service or an address (transport:node, or a port list) rather than a
// configuration file.
int servicename(const char* name);
// Connects with retries: 0 connected, -1 given up after three empty answers.
int try3conn(const char* name);
// Makes sure a line is open before dialing: 0 open (or server mode), 1 none could be opened.
int chkconnect();
// "Attempting connection to ..." (attempt 1) or "Can't connect to ..." (attempt 0).
void connmsg(int attempt, const char* name, const char* transport, const char* node);

// Power-on state, for tests.
void servicereset();
